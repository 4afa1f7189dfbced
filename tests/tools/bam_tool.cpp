// Drives the SAM/BAM handler from the command line so that Python tests can
// check its files with samtools and pysam.
//
//   bam_tool sam2bam IN.sam OUT.bam [index]   SAM file to BAM (sorted and
//                                            indexed when "index" is given)
//   bam_tool bam2sam IN.bam OUT.sam           BAM file to SAM
//   bam_tool bam2bam IN.bam OUT.bam [index]   BAM file read and written again
//   bam_tool sam2sam IN.sam OUT.sam           SAM file read and written again
//   bam_tool print-index IN.bai               dump of an index
//
// Failures print the handler's error text on stderr and exit with 1; an
// exception exits with 2.
#include "bass/util/bam/bam_file.h"

#include <exception>
#include <iostream>
#include <string>

using bass::util::bam::BAMFileHandler;

namespace {

int fail(const BAMFileHandler& handler) {
    std::cerr << handler.error_message() << std::endl;
    return 1;
}

int run(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    BAMFileHandler handler;
    if (command == "sam2bam" && (argc == 4 || argc == 5)) {
        if (!handler.read_from_sam_file(argv[2]) ||
            !handler.write_to_bam_file(argv[3], argc == 5 && std::string(argv[4]) == "index")) {
            return fail(handler);
        }
        return 0;
    }
    if (command == "bam2sam" && argc == 4) {
        if (!handler.read_from_bam_file(argv[2]) || !handler.write_to_sam_file(argv[3])) {
            return fail(handler);
        }
        return 0;
    }
    if (command == "bam2bam" && (argc == 4 || argc == 5)) {
        if (!handler.read_from_bam_file(argv[2]) ||
            !handler.write_to_bam_file(argv[3], argc == 5 && std::string(argv[4]) == "index")) {
            return fail(handler);
        }
        return 0;
    }
    if (command == "sam2sam" && argc == 4) {
        if (!handler.read_from_sam_file(argv[2]) || !handler.write_to_sam_file(argv[3])) {
            return fail(handler);
        }
        return 0;
    }
    if (command == "print-index" && argc == 3) {
        return handler.print_index_from_file(argv[2]) ? 0 : fail(handler);
    }
    std::cerr << "usage: bam_tool sam2bam IN.sam OUT.bam [index] | bam2sam IN.bam OUT.sam | "
                 "bam2bam IN.bam OUT.bam [index] | sam2sam IN.sam OUT.sam | print-index IN.bai"
              << std::endl;
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "exception: " << error.what() << std::endl;
        return 2;
    }
}
