#include "common/model_loader.h"

#include <stdexcept>

#include "common/text_file.h"

namespace common {
namespace {

// Rows of a model of each supported k-mer length: 4^k.
int kmer_length_of(std::size_t rows)
{
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
               std::vector<float>& sd_stdv)
{
    const TextFile table(file_name);
    std::vector<float> means;
    std::vector<float> stdvs;
    std::vector<float> sd_means;
    std::vector<float> sd_shapes;
    table.LoadColumn(table.RequireColumn("level_mean"), means, 0.0f);
    table.LoadColumn(table.RequireColumn("level_stdv"), stdvs, 0.0f);
    table.LoadColumn(table.RequireColumn("sd_mean"), sd_means, 0.0f);
    table.LoadColumn(table.RequireColumn("sd_stdv"), sd_shapes, 0.0f);
    for (std::size_t i = 0; i < sd_shapes.size(); ++i) {
        sd_shapes[i] = sd_means[i] * sd_means[i] * sd_means[i] / (sd_shapes[i] * sd_shapes[i]);
    }
    const int k = kmer_length_of(means.size());

    level_mean = std::move(means);
    level_stdv = std::move(stdvs);
    sd_mean = std::move(sd_means);
    sd_stdv = std::move(sd_shapes);
    return k;
}

}  // namespace common
