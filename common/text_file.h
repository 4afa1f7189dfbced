#pragma once

// A small tab-separated table read whole into memory: optional '#' comment
// lines, one header line of column names, then rows of cells kept as text,
// column by column.

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace common {

class TextFile {
public:
    // Opens and parses the file; throws what Open throws.
    explicit TextFile(const std::string& file_name);

    // Clears, then reads and parses the file. A file that cannot be opened
    // or read, and a data row whose cell count differs from the header's,
    // throw std::runtime_error; the object is then only fit for Clear or Open.
    void Open(const std::string& file_name);

    // Empties the column names, columns and header index; keeps the file name.
    void Clear();

    // Parses a whole table's text (the step of Open after reading the file),
    // replacing what the object held; malformed rows throw as in Open.
    void read_input(std::stringstream& input);

    const std::vector<std::string>& ColumnNames() const { return m_column_names; }
    // Position of a column name (the last one when a name repeats), -1 when
    // the header has no such column.
    int ColumnIndex(const std::string& name) const;
    // Like ColumnIndex, but a missing column throws std::runtime_error naming
    // it and the file.
    int RequireColumn(const std::string& name) const;
    // The cells of the column at `position`; std::out_of_range when the file
    // has no such column.
    const std::vector<std::string>& Column(int position) const;
    std::size_t RowCount() const { return m_columns.empty() ? 0 : m_columns.front().size(); }
    const std::string& FileName() const { return m_file_name; }

    // Converts the column at `position` into `output`, one value per row: an
    // empty cell gives `default_value`, a cell that does not start with a
    // number gives 0, and text after the number is ignored. Returns the
    // number of empty cells. A position that is not a column throws
    // std::out_of_range. Built for float.
    template <typename T>
    int LoadColumn(int position, std::vector<T>& output, const T& default_value) const;

private:
    std::vector<std::string> m_column_names;
    std::vector<std::vector<std::string>> m_columns;
    std::map<std::string, int> m_header_index;
    std::string m_file_name;
};

}  // namespace common
