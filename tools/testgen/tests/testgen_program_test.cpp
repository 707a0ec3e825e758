#include <gtest/gtest.h>

#include <fstream>

#include "decoder/ldpc/alist.hpp"
#include "tests/support/test_support.hpp"
#include "tools/testgen/qc_code.hpp"

namespace qarel::testgen {
namespace {

const std::string kTestgen = QAREL_TESTGEN_PATH;

TEST(TestgenProgram, WritesCodesAndRefusesBadCommands) {
    test::TempDir dir;
    const std::string path = dir.file("rate1.alist");
    const auto made = test::run_program(kTestgen, {"code", "--rate", "1", "--seed", "3", "--out", path});
    EXPECT_EQ(made.exit_status, 0) << made.err;
    EXPECT_EQ(ldpc::load_alist_graph(path).check_count(), 4445u);

    const auto to_stdout = test::run_program(kTestgen, {"code", "--rate", "1", "--seed", "3"});
    EXPECT_EQ(to_stdout.exit_status, 0);
    EXPECT_EQ(to_stdout.out, test::read_file(path));

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"code"},
                                                {"code", "--rate", "x"},
                                                {"code", "--rate", "3", "--colour", "red"},
                                                {"encode"},
                                                {}}) {
        const auto refused = test::run_program(kTestgen, bad);
        EXPECT_EQ(refused.exit_status, 2) << testing::PrintToString(bad);
        EXPECT_NE(refused.err.find("usage: qarel_dtmb_testgen"), std::string::npos);
    }
    const auto bad_rate = test::run_program(kTestgen, {"code", "--rate", "5"});
    EXPECT_EQ(bad_rate.exit_status, 1);
    EXPECT_EQ(bad_rate.err, "qarel_dtmb_testgen: fec rate must be 1, 2, or 3\n");
}


TEST(TestgenProgram, StreamsFillWholeFramesOrAreRefused) {
    test::TempDir dir;
    const std::string& alist = test::generated_code_alist(3);
    const auto stream = [&](std::vector<std::string> extra) {
        std::vector<std::string> args{"stream", "--rate", "3", "--alist", alist, "--out", dir.file("out.llr"),
                                      "--ts-out", dir.file("out.ts")};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::run_program(kTestgen, args);
    };

    auto result = stream({"--packets", "5"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "qarel_dtmb_testgen: transport stream does not fill whole FEC frames of 2256 bytes "
                          "(use --pad to add null packets)\n");

    result = stream({"--packets", "5", "--pad", "--channel", "bpsk", "--esn0-db", "30"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(test::read_file(dir.file("out.ts")).size(), 2256u);
    EXPECT_EQ(test::read_file(dir.file("out.llr")).size(), 3u * 7488 * 4);
    EXPECT_EQ(result.err, "frames=1\ncodewords=3\ntransport_bytes=2256\nlead_in_llrs=0\nllrs=22464\nflipped_bits=0\n");

    result = stream({"--frames", "2", "--qam", "32qam", "--qam32-phase", "1", "--channel", "qam", "--esn0-db", "40",
                     "--impair", "corrupt:plane=1:2:0"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err, "frames=2\ncodewords=10\ntransport_bytes=7520\nlead_in_llrs=18720\nllrs=93600\n"
                          "flipped_bits=1248\n");  // plane 1 of one codeword: 7488 / 6 bits
    EXPECT_EQ(test::read_file(dir.file("out.llr")).size(), 93600u * 4);

    const std::string ragged = dir.file("ragged.ts");
    test::write_file(ragged, std::string(100, 'G'));
    result = stream({"--ts", ragged});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "qarel_dtmb_testgen: transport stream length is not a whole number of 188-byte packets\n");
}

TEST(TestgenProgram, StreamRefusesBadOptionsAndCodes) {
    test::TempDir dir;
    const std::string& alist = test::generated_code_alist(2);
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--qam32-phase", "1"}, {"--channel", "fm"}, {"--channel", "qam"},
          {"--qam", "8qam"}, {"--frames", "2", "--packets", "3"}, {"--esn0-db", "loud"}, {"--esn0-db", "inf"},
          {"--llr-magnitude", "-2"}, {"--unknown", "1"}}) {
        std::vector<std::string> args{"stream", "--rate", "2", "--alist", alist, "--out", dir.file("x")};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto result = test::run_program(kTestgen, args);
        EXPECT_EQ(result.exit_status, 2) << testing::PrintToString(extra);
        EXPECT_NE(result.err.find("usage: qarel_dtmb_testgen"), std::string::npos);
    }
    const auto bad_impairment =
        test::run_program(kTestgen, {"stream", "--rate", "2", "--alist", alist, "--impair", "erase:plane=9"});
    EXPECT_EQ(bad_impairment.exit_status, 1);
    EXPECT_EQ(bad_impairment.err, "qarel_dtmb_testgen: invalid impairment: erase:plane=9\n");

    // A code whose parity columns are unused cannot be encoded.
    const std::string singular = dir.file("singular.alist");
    std::ofstream out(singular);
    ldpc::CheckRows rows;
    for (int c = 0; c < 2921; ++c) {
        rows.variables.push_back(3000 + c % 100);
        rows.end_row();
    }
    write_alist(out, rows, 7493);
    out.close();
    const auto refused = test::run_program(kTestgen, {"stream", "--rate", "2", "--alist", singular, "--out", dir.file("x")});
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_EQ(refused.err, "qarel_dtmb_testgen: the parity part of the code cannot be inverted\n");
}

}  // namespace
}  // namespace qarel::testgen
