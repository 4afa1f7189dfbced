#include "common/model_loader.h"

#include <stdexcept>

#include "common/text_file.h"

namespace common {
namespace {

// Rows of a model of each supported k-mer length: 4^k.
int kmer_length_of(std::size_t rows) {
    for (int k = 3; k <= 7; ++k) {
        if (rows == std::size_t{1} << (2 * k)) {
            return k;
        }
    }
    throw std::runtime_error("Invalid model length.");
}

}  // namespace

int load_model(const std::string& file_name,
               std::vector<float>& level_mean,
               std::vector<float>& level_stdv,
               std::vector<float>& sd_mean,
               std::vector<float>& sd_stdv) {
    const TextFile table(file_name);
    // Every column is found before any output is touched.
    const int level_mean_column = table.RequireColumn("level_mean");
    const int level_stdv_column = table.RequireColumn("level_stdv");
    const int sd_mean_column = table.RequireColumn("sd_mean");
    const int sd_stdv_column = table.RequireColumn("sd_stdv");
    table.LoadColumn(level_mean_column, level_mean, 0.0f);
    table.LoadColumn(level_stdv_column, level_stdv, 0.0f);
    table.LoadColumn(sd_mean_column, sd_mean, 0.0f);
    table.LoadColumn(sd_stdv_column, sd_stdv, 0.0f);
    // All columns hold one cell per row, so the four outputs are equally long.
    for (std::size_t i = 0; i < sd_stdv.size(); ++i) {
        sd_stdv[i] = sd_mean[i] * sd_mean[i] * sd_mean[i] / (sd_stdv[i] * sd_stdv[i]);
    }
    return kmer_length_of(level_mean.size());
}

}  // namespace common
