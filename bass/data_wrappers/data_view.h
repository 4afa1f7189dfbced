#pragma once

#include "common/export.h"

#include "bass/data_wrappers/data_table.h"
#include "bass/data_wrappers/data_types.h"
#include "bass/data_wrappers/metadata.h"
#include "bass/data_wrappers/views.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bass {
namespace data_wrappers {

// Description of a dataset's elements.
struct DataSetInfo {
    DataSetType type = DataSetType::none;
    uint64_t element_size = 0;  // row size for a table, text length + 1 for a text
    uint64_t count = 0;         // elements; rows for a table; 1 for a text
    uint64_t size1 = 0;         // rows of a matrix, else 0
    uint64_t size2 = 0;         // columns of a matrix, else 0
    std::vector<Field> fields;  // a table's fields, else empty
};

// One dataset of a read: a vector, a contiguous row-major matrix, a text or a
// table, with its own metadata. It either borrows storage the caller keeps
// alive, or owns it through `owner`.
class VEMLA_DATA_EXPORT DataView {
public:
    class OwnerBase {
    public:
        virtual ~OwnerBase() = default;
        virtual std::unique_ptr<OwnerBase> clone() const = 0;
        virtual void* data_ptr() = 0;
    };

    // Holds the storage of an owning view by value.
    template <typename T>
    class Owner : public OwnerBase {
    public:
        Owner() = default;
        explicit Owner(T&& value) : m_value(std::move(value)) {}
        std::unique_ptr<OwnerBase> clone() const override { return std::make_unique<Owner>(T(m_value)); }
        void* data_ptr() override { return m_value.data(); }
        T& value() { return m_value; }

    private:
        T m_value;
    };

    void* data = nullptr;
    std::string* string = nullptr;  // the viewed text of a text dataset, else null
    DataSetInfo info;
    std::unique_ptr<OwnerBase> owner;
    Metadata metadata;

    DataView();
    // Vectors: with `take` the vector moves into an owner (the element buffer
    // stays where it was); otherwise it is borrowed. An rvalue is taken
    // unless `take` is false.
    DataView(std::vector<char>& values, bool take);
    DataView(std::vector<int16_t>& values, bool take);
    DataView(std::vector<float>& values, bool take);
    DataView(std::vector<uint32_t>& values, bool take);
    DataView(std::vector<uint8_t>& values, bool take);
    explicit DataView(std::vector<char>&& values, bool take = true) : DataView(values, take) {}
    explicit DataView(std::vector<int16_t>&& values, bool take = true) : DataView(values, take) {}
    explicit DataView(std::vector<float>&& values, bool take = true) : DataView(values, take) {}
    explicit DataView(std::vector<uint32_t>&& values, bool take = true) : DataView(values, take) {}
    explicit DataView(std::vector<uint8_t>&& values, bool take = true) : DataView(values, take) {}
    // Matrices: `values` holds the elements `matrix` views, contiguous and
    // row-major from values.data(); it always moves into an owner.
    DataView(const MatView<uint8_t>& matrix, std::vector<uint8_t>& values);
    DataView(const MatView<float>& matrix, std::vector<float>& values);
    explicit DataView(const MatView<uint8_t>& matrix, std::vector<uint8_t>&& values) : DataView(matrix, values) {}
    explicit DataView(const MatView<float>& matrix, std::vector<float>&& values) : DataView(matrix, values) {}
    // Text.
    DataView(std::string& text, bool take);
    explicit DataView(std::string&& text, bool take = true) : DataView(text, take) {}
    // Table, through view().
    DataView(DataTable& table, bool take);
    explicit DataView(DataTable&& table, bool take = true) : DataView(table, take) {}

    // Deep copy of owned storage; a borrowing source gives a second borrower.
    DataView(const DataView& other);
    DataView& operator=(const DataView& other);
    // Takes pointers, owner and metadata; the source ends empty.
    DataView(DataView&& other) noexcept;
    DataView& operator=(DataView&& other) noexcept;
    virtual ~DataView();

    // Empties the view: no data, type none, owner released, metadata emptied.
    virtual void clear();

    // Re-targets this view at a table (borrowed, or taken with `take`).
    void view(DataTable& table, bool take);
    // Replaces the viewed text (cut at its first NUL).
    void set_string(std::string text);
    // Copies the storage side only: a private clone of owned storage, or the
    // same borrowed pointers.
    void copy_data(const DataView& other);

    // Typed access to a vector or matrix dataset's elements;
    // std::runtime_error "Invalid array type requested." on a type mismatch.
    template <typename T>
    VecView<T> vec_view() const {
        check_element_type(data_type_of<T>::value, sizeof(T));
        VecView<T> result;
        result.view(static_cast<const T*>(data), info.count, 1);
        return result;
    }
    template <typename T>
    MatView<T> mat_view() const {
        check_element_type(data_type_of<T>::value, sizeof(T));
        MatView<T> result;
        result.view(static_cast<const T*>(data), info.size1, info.size2, info.size2 == 0 ? 1 : info.size2, 1);
        return result;
    }

private:
    void check_element_type(DataSetType type, uint64_t element_size) const;
    template <typename T>
    void init_vector(std::vector<T>& values, bool take);
    template <typename T>
    void init_matrix(const MatView<T>& matrix, std::vector<T>& values);
};

template <>
inline void* DataView::Owner<DataTable>::data_ptr() {
    return m_value.data.data();
}

}  // namespace data_wrappers
}  // namespace bass
