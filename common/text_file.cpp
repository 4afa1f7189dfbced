#include "common/text_file.h"

#include <fstream>
#include <stdexcept>

#include "common/string_utils.h"

namespace common {
namespace {

// Every tab separates, so adjacent tabs give empty cells and an empty line
// is one empty cell.
std::vector<std::string> split_at_tabs(const std::string& line) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (auto tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
        cells.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    cells.push_back(line.substr(start));
    return cells;
}

bool read_clean_line(std::istream& input, std::string& line) {
    if (!std::getline(input, line)) {
        return false;
    }
    line = clean_string(line);
    return true;
}

}  // namespace

TextFile::TextFile(const std::string& file_name) {
    Open(file_name);
    m_file_name = file_name;
}

void TextFile::Open(const std::string& file_name) {
    Clear();
    std::ifstream file(file_name, std::ios::binary);
    if (!file) {
        throw std::runtime_error("Error: Failed to open file \"" + file_name + "\"");
    }
    std::stringstream content;
    char buffer[1 << 16];
    while (file.read(buffer, sizeof(buffer)) || file.gcount() > 0) {
        content.write(buffer, file.gcount());
    }
    if (file.bad()) {
        throw std::runtime_error("Error: Failed to read file \"" + file_name + "\"");
    }
    read_input(content);
}

void TextFile::Clear() {
    m_column_names.clear();
    m_columns.clear();
    m_header_index.clear();
}

void TextFile::read_input(std::stringstream& input) {
    Clear();
    // Comment lines count only before the header; a stream that ends among
    // them leaves the empty header.
    std::string header;
    std::string line;
    while (read_clean_line(input, line)) {
        if (line.empty() || line.front() != '#') {
            header = std::move(line);
            break;
        }
    }

    m_column_names = split_at_tabs(header);
    for (std::size_t i = 0; i < m_column_names.size(); ++i) {
        m_header_index[m_column_names[i]] = static_cast<int>(i);
    }
    m_columns.assign(m_column_names.size(), {});

    for (std::size_t line_number = 2; read_clean_line(input, line); ++line_number) {
        auto cells = split_at_tabs(line);
        if (cells.size() != m_columns.size()) {
            throw std::runtime_error("Error: Incomplete row in line " + std::to_string(line_number) + ": expecting " +
                                     std::to_string(m_columns.size()) + " columns but got " +
                                     std::to_string(cells.size()));
        }
        for (std::size_t j = 0; j < cells.size(); ++j) {
            m_columns[j].push_back(std::move(cells[j]));
        }
    }
}

int TextFile::ColumnIndex(const std::string& name) const {
    const auto found = m_header_index.find(name);
    return found == m_header_index.end() ? -1 : found->second;
}

int TextFile::RequireColumn(const std::string& name) const {
    const int position = ColumnIndex(name);
    if (position < 0) {
        throw std::runtime_error("Error: Missing column \"" + name + "\" in file \"" + m_file_name + "\"");
    }
    return position;
}

const std::vector<std::string>& TextFile::Column(int position) const {
    if (position < 0 || static_cast<std::size_t>(position) >= m_columns.size()) {
        throw std::out_of_range("Error: No column at position " + std::to_string(position) + " in file \"" +
                                m_file_name + "\" of " + std::to_string(m_columns.size()) + " columns");
    }
    return m_columns[static_cast<std::size_t>(position)];
}

template <typename T>
int TextFile::LoadColumn(int position, std::vector<T>& output, const T& default_value) const {
    const auto& cells = Column(position);
    output.resize(cells.size());
    int empty_cells = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].empty()) {
            output[i] = default_value;
            ++empty_cells;
            continue;
        }
        std::istringstream cell(cells[i]);
        T value{};
        cell >> value;  // a failed extraction leaves 0
        output[i] = value;
    }
    return empty_cells;
}

template int TextFile::LoadColumn<float>(int, std::vector<float>&, const float&) const;

}  // namespace common
