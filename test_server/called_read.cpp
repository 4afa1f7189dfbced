#include "test_server/called_read.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace test_server {

namespace {

int64_t floor_mod(int64_t value, int64_t modulus) {
    const int64_t r = value % modulus;
    return r < 0 ? r + modulus : r;
}

std::string two_digits(const char* format, uint32_t number) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<int>(number));
    return text;
}

void fill_runs(CalledRead& call) {
    RunLengths runs;
    size_t i = 0;
    while (i < call.sequence.size()) {
        size_t j = i + 1;
        while (j < call.sequence.size() && call.sequence[j] == call.sequence[i]) {
            ++j;
        }
        const auto length = static_cast<uint32_t>(j - i);
        runs.base.push_back(static_cast<uint8_t>(call.sequence[i]));
        runs.runlength.push_back(length);
        runs.index.push_back(call.base_positions[i]);
        runs.scale.push_back(static_cast<float>(length));
        runs.shape.push_back(1.0f + static_cast<float>(length) / 10.0f);
        runs.weight.push_back(1.0f / static_cast<float>(length));
        i = j;
    }
    call.runs = std::move(runs);
}

SequenceMatch end_match(const std::string& id, const std::string& sequence, bool front, int32_t index, float score) {
    SequenceMatch match;
    match.id = id;
    const size_t length = std::min<size_t>(8, sequence.size());
    match.foundseq = front ? sequence.substr(0, length) : sequence.substr(sequence.size() - length);
    match.refseq = match.foundseq;
    match.score = score;
    match.index = index;
    return match;
}

Barcoding make_barcoding(const CalledRead& call, const CallOptions& options) {
    Barcoding result;
    const std::string kit = options.barcode_kits.empty() ? std::string("TEST-BC12") : options.barcode_kits.front();
    const uint32_t number = call.read_tag % 12 + 1;
    const std::string barcode = two_digits("barcode%02i", number);
    const auto length = static_cast<int32_t>(call.sequence.size());
    const float score = 90.0f - static_cast<float>(number);
    result.trim_front = std::min<int32_t>(8, length);
    result.trim_rear = std::max<int32_t>(length - 8, result.trim_front);
    result.kit = kit;
    result.arrangement = barcode;
    result.full_arrangement = kit + "_" + barcode;
    result.variant = "var1";
    result.score = score;
    result.barcode_front = end_match(kit + "_FWD_" + barcode, call.sequence, true, 0, score);
    result.barcode_rear = end_match(kit + "_REV_" + barcode, call.sequence, false, length, score - 1.0f);
    result.barcode_mid_front = {"", 0.0f, 0};
    result.barcode_mid_rear = {"", 0.0f, 0};
    result.front_id_inner = "";
    result.rear_id_inner = "";
    result.adapter_front = end_match("ADAPTER_FRONT", call.sequence, true, 0, 70.0f);
    result.adapter_rear = end_match("ADAPTER_REAR", call.sequence, false, length, 65.0f);
    result.adapter_mid = {"", 0.0f, 0};
    result.primer_front = end_match("PRIMER_FRONT", call.sequence, true, 0, 60.0f);
    result.primer_rear = end_match("PRIMER_REAR", call.sequence, false, length, 55.0f);
    if (!options.lamp_kit.empty()) {
        result.lamp_barcode_id = two_digits("FIP%02i", call.read_tag % 8 + 1);
        result.lamp_barcode_score = 80.0f;
        result.lamp_target_id = call.read_tag % 2 == 0 ? "target_a" : "target_b";
        result.lamp_target_score = 75.0f;
    }
    return result;
}

std::vector<AlignmentRow> make_alignments(const CalledRead& call, const CallOptions& options) {
    std::vector<AlignmentRow> rows;
    const auto length = static_cast<int32_t>(call.sequence.size());
    if (length < 20) {
        return rows;  // too short to align
    }
    std::vector<AlignmentTarget> targets = options.alignment_targets;
    if (targets.empty()) {
        targets = {{"test_chr1", options.bed_file.empty() ? 0 : 1}, {"test_chr2", 0}};
        targets.resize(1 + call.read_tag % 2);
    }
    for (size_t r = 0; r < targets.size(); ++r) {
        AlignmentRow row;
        row.genome = targets[r].genome;
        row.genome_start = static_cast<int32_t>((call.read_tag * 97u) % 100000u) + 1000 * static_cast<int32_t>(r);
        row.genome_end = row.genome_start + length;
        row.strand_start = 0;
        row.strand_end = length;
        row.num_events = static_cast<int32_t>(call.total_positions());
        row.num_aligned = length;
        row.num_correct = length - length / 10;
        row.num_insertions = length / 20;
        row.num_deletions = length / 25;
        row.coverage = 1.0f;
        row.identity = static_cast<float>(row.num_correct) / static_cast<float>(length);
        row.accuracy = row.identity - 0.01f;
        row.strand_score = 2 * length;
        row.direction = r == 0 ? '+' : '-';
        row.mapping_quality = r == 0 ? 60 : 7;
        row.is_supplementary = r != 0;
        row.sam_record = call.read_id + "\t" + (r == 0 ? "0" : "2064") + "\t" + row.genome + "\t" +
                         std::to_string(row.genome_start + 1) + "\t" + std::to_string(row.mapping_quality) + "\t" +
                         std::to_string(length) + "M\t*\t0\t0\t" + call.sequence + "\t" + call.qstring;
        if (!options.bed_file.empty()) {
            row.bed_hits = targets[r].bed_hits;
            for (int32_t hit = 0; hit < row.bed_hits; ++hit) {
                row.bed_lines += (hit == 0 ? "" : "\n") + row.genome + "\t" + std::to_string(row.genome_start) + "\t" +
                                 std::to_string(row.genome_end) + "\ttest_target_" + std::to_string(hit) + "\t0\t+";
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

CallOptions CallOptions::from(const ConnectionRequest& request,
                              const BasecallConfig& config,
                              uint32_t split_min_positions) {
    CallOptions options;
    options.config = config;
    options.trace = request.flag("move_and_trace_enabled");
    options.barcode_kits = request.barcode_kits();
    options.detect_barcodes = request.flag("detect_barcodes");
    options.lamp_kit = request.text("lamp_kit");
    options.align_ref = request.text("align_ref");
    options.bed_file = request.text("bed_file");
    options.split_reads = request.flag("do_read_splitting");
    options.split_min_positions = split_min_positions;
    return options;
}

CalledRead call_signal(const AssembledRead& read, const CallOptions& options) {
    CalledRead call;
    call.read_tag = read.read_tag;
    call.sub_tag = read.sub_tag;
    call.read_id = read.read_id;
    call.strand_id = read.strand_id;
    call.duration = read.duration;
    call.start_time = read.start_time;
    call.daq_offset = read.daq_offset;
    call.daq_scaling = read.daq_scaling;
    const uint32_t stride = std::max<uint32_t>(1, options.config.model_stride);
    call.model_stride = stride;
    call.label_length = options.config.label_length;
    call.basecall_type = options.config.events == EventKind::run_length ? "run_length" : "move_trace";
    call.model_version_id = options.config.model_version_id;

    const auto samples = static_cast<uint32_t>(read.signal.size());
    const uint32_t positions = samples / stride;
    call.trimmed_samples = samples - positions * stride;
    call.moves.resize(positions);
    call.state.resize(static_cast<size_t>(positions) * state_size);
    if (options.trace) {
        call.trace.resize(positions);
    }
    if (options.config.base_mods) {
        // The context in the wire's notation: a part per canonical base (A, C,
        // G, T), "X" marking the modified base; here a C followed by a G.
        call.base_mods = BaseMods{"Cm", "5mC", "_:XG:_:_", {}};
    }
    uint64_t q_total = 0;
    for (uint32_t p = 0; p < positions; ++p) {
        int64_t w = 0;
        for (uint32_t s = 0; s < stride; ++s) {
            w += read.signal[static_cast<size_t>(p) * stride + s];
        }
        for (uint32_t j = 0; j < state_size; ++j) {
            const float sample = read.signal[static_cast<size_t>(p) * stride + j % stride];
            call.state[static_cast<size_t>(p) * state_size + j] = (sample + read.daq_offset) * read.daq_scaling;
        }
        if (options.trace) {
            for (size_t j = 0; j < trace_width; ++j) {
                call.trace[p][j] = static_cast<uint8_t>(floor_mod(w + 37 * static_cast<int64_t>(j), 256));
            }
        }
        const bool move = p == 0 || floor_mod(w, 3) != 0;
        call.moves[p] = move ? 1 : 0;
        if (!move) {
            continue;
        }
        const auto q = static_cast<uint32_t>(5 + floor_mod(w, 31));
        q_total += q;
        call.sequence.push_back("ACGT"[floor_mod(w, 4)]);
        call.qstring.push_back(static_cast<char>(33 + q));
        call.base_positions.push_back(p);
        if (call.base_mods) {
            const auto level = static_cast<uint8_t>(floor_mod(w, 256));
            call.base_mods->probs.push_back(level);
            call.base_mods->probs.push_back(static_cast<uint8_t>(255 - level));
        }
    }
    if (options.config.events == EventKind::run_length) {
        fill_runs(call);
    }

    const auto bases = static_cast<float>(call.sequence.size());
    call.mean_qscore = bases > 0 ? static_cast<float>(q_total) / bases : 0.0f;
    call.call_score = call.mean_qscore * 10.0f;
    call.step_prob = positions > 0 ? bases / static_cast<float>(positions) : 0.0f;
    call.stay_prob = 1.0f - call.step_prob;
    call.skip_prob = 0.0f;
    double sum = 0.0;
    for (const int16_t sample : read.signal) {
        sum += sample;
    }
    const double mean = read.signal.empty() ? 0.0 : sum / static_cast<double>(read.signal.size());
    call.median = static_cast<float>((mean + read.daq_offset) * read.daq_scaling);
    call.med_abs_dev = 1.0f + static_cast<float>(read.duration % 7);

    ScalingResult scaling;
    scaling.median = call.median;
    scaling.med_abs_dev = call.med_abs_dev;
    scaling.pt_median = call.median + 1.0f;
    scaling.ptsd = 2.5f;
    scaling.adapter_max = 0.75f;
    scaling.pt_detect_success = positions % 2 == 0;
    call.scaling = scaling;

    if (options.detect_barcodes || !options.barcode_kits.empty() || !options.lamp_kit.empty()) {
        call.barcoding = make_barcoding(call, options);
    }
    if (!options.align_ref.empty()) {
        call.alignments = make_alignments(call, options);
    }
    return call;
}

std::vector<CalledRead> call_read(const AssembledRead& read, const CallOptions& options) {
    std::vector<CalledRead> calls;
    const uint32_t stride = std::max<uint32_t>(1, options.config.model_stride);
    const auto positions = static_cast<uint32_t>(read.signal.size() / stride);
    if (options.split_reads && read.sub_tag == 0 && options.split_min_positions > 0 &&
        positions >= 2 * options.split_min_positions) {
        // Split at a position boundary into two halves.
        const size_t middle = static_cast<size_t>(positions / 2) * stride;
        for (uint32_t half = 0; half < 2; ++half) {
            AssembledRead part = read;
            part.sub_tag = half + 1;
            part.read_id = read.read_id + "_" + std::to_string(half + 1);
            part.strand_id = part.read_id;
            if (half == 0) {
                part.signal.assign(read.signal.begin(), read.signal.begin() + static_cast<std::ptrdiff_t>(middle));
            } else {
                part.signal.assign(read.signal.begin() + static_cast<std::ptrdiff_t>(middle), read.signal.end());
                part.start_time = read.start_time + middle;
            }
            part.duration = static_cast<uint32_t>(part.signal.size());
            calls.push_back(call_signal(part, options));
        }
    }
    calls.push_back(call_signal(read, options));
    return calls;
}

}  // namespace test_server
