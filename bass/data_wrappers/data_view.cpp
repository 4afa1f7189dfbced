#include "bass/data_wrappers/data_view.h"

#include <stdexcept>
#include <utility>

namespace bass {
namespace data_wrappers {

DataView::DataView() = default;

template <typename T>
void DataView::init_vector(std::vector<T>& values, bool take) {
    clear();
    data = values.data();
    info.type = data_type_of<T>::value;
    info.element_size = sizeof(T);
    info.count = values.size();
    if (take) {
        // Moving a vector keeps its element buffer, so `data` stays valid.
        owner = std::make_unique<Owner<std::vector<T>>>(std::move(values));
        values = std::vector<T>();
    }
}

DataView::DataView(std::vector<char>& values, bool take) {
    init_vector(values, take);
}
DataView::DataView(std::vector<int16_t>& values, bool take) {
    init_vector(values, take);
}
DataView::DataView(std::vector<float>& values, bool take) {
    init_vector(values, take);
}
DataView::DataView(std::vector<uint32_t>& values, bool take) {
    init_vector(values, take);
}
DataView::DataView(std::vector<uint8_t>& values, bool take) {
    init_vector(values, take);
}

template <typename T>
void DataView::init_matrix(const MatView<T>& matrix, std::vector<T>& values) {
    clear();
    // Only extents are kept, so the view must describe the vector's own
    // elements, contiguous and row-major from the start.
    const uint64_t rows = matrix.size1;
    const uint64_t columns = matrix.size2;
    if (rows != 0 && columns != 0) {
        const bool row_major = matrix.stride2 == 1 && (rows == 1 || static_cast<uint64_t>(matrix.stride1) == columns);
        const bool fits = columns <= values.size() && rows <= values.size() / columns;
        if (matrix.data != values.data() || !row_major || !fits) {
            throw std::runtime_error("MatView does not view the vector's contiguous row-major data.");
        }
    }
    info.type = data_type_of<T>::value;
    info.element_size = sizeof(T);
    info.size1 = rows;
    info.size2 = columns;
    info.count = rows * columns;
    auto new_owner = std::make_unique<Owner<std::vector<T>>>(std::move(values));
    values = std::vector<T>();
    data = new_owner->data_ptr();
    owner = std::move(new_owner);
}

DataView::DataView(const MatView<uint8_t>& matrix, std::vector<uint8_t>& values) {
    init_matrix(matrix, values);
}
DataView::DataView(const MatView<float>& matrix, std::vector<float>& values) {
    init_matrix(matrix, values);
}

DataView::DataView(std::string& text, bool take) {
    clear();
    info.type = DataSetType::string;
    info.count = 1;
    if (take) {
        auto new_owner = std::make_unique<Owner<std::string>>(std::move(text));
        text = std::string();
        string = &new_owner->value();
        owner = std::move(new_owner);
    } else {
        string = &text;
    }
    // Taken from the text in its final place: a short text lives inside the
    // string object itself.
    data = &(*string)[0];
    info.element_size = string->size() + 1;
}

DataView::DataView(DataTable& table, bool take) {
    view(table, take);
}

DataView::DataView(const DataView& other) {
    *this = other;
}

DataView& DataView::operator=(const DataView& other) {
    if (this == &other) {
        return *this;
    }
    DataSetInfo new_info = other.info;
    Metadata new_metadata = other.metadata;
    copy_data(other);
    info = std::move(new_info);
    metadata = std::move(new_metadata);
    return *this;
}

DataView::DataView(DataView&& other) noexcept
    : data(other.data),
      string(other.string),
      info(std::move(other.info)),
      owner(std::move(other.owner)),
      metadata(std::move(other.metadata)) {
    other.clear();
}

DataView& DataView::operator=(DataView&& other) noexcept {
    if (this != &other) {
        clear();
        data = other.data;
        string = other.string;
        info = std::move(other.info);
        owner = std::move(other.owner);
        metadata = std::move(other.metadata);
        other.clear();
    }
    return *this;
}

DataView::~DataView() {
    DataView::clear();
}

void DataView::clear() {
    data = nullptr;
    string = nullptr;
    info.type = DataSetType::none;
    info.element_size = 0;
    info.count = 0;
    info.size1 = 0;
    info.size2 = 0;
    info.fields.clear();
    owner.reset();
    metadata.clear();
}

void DataView::view(DataTable& table, bool take) {
    clear();
    data = table.data.data();
    info.element_size = table.row_size;
    info.count = table.num_rows;
    info.type = DataSetType::table;
    info.fields = table.fields;
    if (take) {
        auto new_owner = std::make_unique<Owner<DataTable>>();
        std::swap(new_owner->value(), table);
        owner = std::move(new_owner);
    }
}

void DataView::set_string(std::string text) {
    if (info.type != DataSetType::string || string == nullptr) {
        throw std::runtime_error("Data does not view string data.");
    }
    const auto nul = text.find('\0');
    if (nul != std::string::npos) {
        text.resize(nul);
    }
    std::string().swap(*string);
    *string = std::move(text);
    data = &(*string)[0];
    info.element_size = string->size() + 1;
}

void DataView::copy_data(const DataView& other) {
    if (this == &other) {
        return;
    }
    if (other.owner) {
        std::unique_ptr<OwnerBase> copy = other.owner->clone();
        std::string* copied_string = nullptr;
        if (other.string != nullptr) {
            auto* text_owner = dynamic_cast<Owner<std::string>*>(copy.get());
            if (text_owner == nullptr) {
                throw std::runtime_error("Data does not view string data.");
            }
            copied_string = &text_owner->value();
        }
        data = copied_string != nullptr ? &(*copied_string)[0] : copy->data_ptr();
        string = copied_string;
        owner = std::move(copy);
    } else {
        owner.reset();
        data = other.data;
        string = other.string;
    }
}

void DataView::check_element_type(DataSetType type, uint64_t element_size) const {
    if (info.type != type || info.element_size != element_size) {
        throw std::runtime_error("Invalid array type requested.");
    }
}

}  // namespace data_wrappers
}  // namespace bass
