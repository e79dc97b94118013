#include "cli/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "support/Capture.h"

using namespace Trelis;

namespace {

struct Parsed {
    std::string out;
    std::string folder, truth, output;
    MCExtractParams extract;
    MCClusterSyncParams cluster{MCExtractParams()};
    RunOptions options;
    int result = -1;
};

// Parses the words of `line` (after the program name), capturing standard output.
Parsed parse(const std::string& line) {
    Parsed p;
    std::vector<std::string> args = {"Trelis"};
    std::istringstream words(line);
    for (std::string word; words >> word;) {
        args.push_back(word);
    }
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    testing::internal::CaptureStdout();
    p.result = parseArguments(static_cast<int>(argv.size()), argv.data(), p.folder, p.truth,
                              p.output, p.extract, p.cluster, p.options);
    p.out = testing::internal::GetCapturedStdout();
    return p;
}

std::string help() {
    return TrelisTest::stdoutOf(printHelp);
}

}  // namespace

// What the parser echoes for each option, the refusals and cautions included: unknown flags
// leave their value to be read as a flag, later options win, a trailing flag is ignored,
// -recursive takes no value and -stream counts from 1.
TEST(CommandLine, EchoesEveryOptionWithItsVerdict) {
    const std::pair<const char*, std::string> cases[] = {
        {"-f in -fftsize 1000",
         "-f in\n-fftsize 1000\nInvalid FFTSIZE.  Must be a power of two and greater than 0.\n"
         "Default is 512\n"},
        {"-f in -fftsize 2", "-f in\n-fftsize 2\nFFTSIZE: 2\n"},
        {"-samplerate 2000 -f in",
         "-samplerate 2000\nSAMPLERATE: 2000\nCAUTION: Changing the sample rate can "
         "drastically\nchange things and needs to match the sample rateof ALL the files to be "
         "processed.\n-f in\n"},
        {"-f audio -x 5", "-f audio\n-x 5\nUnknown input arguments\n" + help()},
        {"-f a -f b -fftsize", "-f a\n-f b\n"},
        {"-recursive -f cards -stream 0 -stream 2",
         "RECURSIVE: on\n-f cards\n-stream 0\nInvalid AUDIO STREAM.  Must be between 1 and "
         "64.\nDefault is the loudest\n-stream 2\nAUDIO STREAM: 2\n"},
    };
    for (const auto& [line, out] : cases) {
        EXPECT_EQ(parse(line).out, out) << line;
    }
    // The setter has the last word on the FFT size; the sample rate is refused silently.
    EXPECT_EQ(parse("-f in -fftsize 2").extract.getFftSize(), 512u);
    EXPECT_EQ(parse("-f in -fftsize 1024").extract.getFftSize(), 1024u);
    EXPECT_EQ(parse("-samplerate 2000 -f in").extract.getSampleRate(), 8000u);
    const Parsed unknown = parse("-f audio -x 5");
    EXPECT_EQ(unknown.result, 0);
    EXPECT_EQ(unknown.folder, "audio");
    EXPECT_EQ(parse("-f a -f b -fftsize").folder, "b");
    const Parsed cards = parse("-recursive -f cards -stream 0 -stream 2");
    EXPECT_TRUE(cards.options.recursive);
    EXPECT_EQ(cards.folder, "cards");
    EXPECT_EQ(cards.options.audioStream, 2);
}

// The options beyond the help's own come with -help-more only, which the title points to.
TEST(CommandLine, HelpMoreListsTheOtherOptions) {
    EXPECT_EQ(parse("-f audio -help-more").out, "-f audio\n" + TrelisTest::stdoutOf(printRunHelp));
    EXPECT_EQ(parse("-f audio -h").out, "-f audio\n" + help());
    EXPECT_NE(help().find("-help-more"), std::string::npos);
    EXPECT_NE(TrelisTest::stdoutOf(printRunHelp).find("-match <spec|verified>"), std::string::npos);
}

TEST(CommandLine, RefusedValuesKeepTheDefault) {
    Parsed p = parse("-f in -freqrange abc -timerange 0 -hopsize -3");
    EXPECT_EQ(p.out,
              "-f in\n-freqrange abc\nInvalid FREQUENCY RANGE.  Must be greater than 0\nDefault is "
              "62\n-timerange 0\nInvalid TIME RANGE.  Must be greater than 0\nDefault is 126\n"
              "-hopsize -3\nInvalid HOPSIZE.  Must be greater than 0\nDefault is 256\n");
    p = parse("-f in -maxlandmarks 0 -mintemplatelength -1");
    EXPECT_EQ(p.out,
              "-f in\n-maxlandmarks 0\nInvalid MAX LANDMARKS.\nDefault is 250\n"
              "-mintemplatelength -1\nInvalid MIN TEMPLATE LENGTH.  Must be greater than or equal "
              "to 0.\nDefault is 3\n");
    p = parse("-f in -dbthreshold 10 -media some -refinerate 9 -timeline cut.edl");
    EXPECT_EQ(p.out,
              "-f in\n-dbthreshold 10\nInvalid DB THRESHOLD.  Must be less than 0\nDefault is -60\n"
              "-media some\nInvalid MEDIA.  Must be all.\nDefault is wav\n-refinerate 9\n"
              "Invalid REFINE SAMPLE RATE.  Must be between 1000 and 384000.\nDefault is the "
              "extraction sample rate\n-timeline cut.edl\nInvalid TIMELINE.  Must end in .otio or "
              ".xml\nDefault is none\n");
    EXPECT_EQ(p.extract.dbThreshold, -60.0f);
    EXPECT_FALSE(p.options.allMedia);
    EXPECT_EQ(p.options.refineRate, 0u);
    EXPECT_EQ(p.options.timelinePath, "");
}

TEST(CommandLine, AcceptedValuesAreStored) {
    Parsed p = parse(
        "-f in -t truth.xml -o out -decayperframe 0.5 -dbthreshold -40 -accepttreshold 0 "
        "-maxpairsperpeak 3 -peakwidth 12.5 -maxpeaksperframe 7 -peakdynrange 30 -maxlandmarks 100 "
        "-minoverlaplength 2 -minpercentmatch 0.5 -mintemplatelength 0");
    EXPECT_EQ(p.truth, "truth.xml");
    EXPECT_EQ(p.output, "out");
    EXPECT_EQ(p.extract.decayPerFrame, 0.5f);
    EXPECT_EQ(p.extract.dbThreshold, -40.0f);
    EXPECT_EQ(p.extract.getMaxPairsPerPeak(), 3u);
    EXPECT_EQ(p.extract.peakWidth, 12.5f);
    EXPECT_EQ(p.extract.maxPeaksPerFrame, 7u);
    EXPECT_EQ(p.extract.peakDynRange, 30.0f);
    EXPECT_EQ(p.cluster.getAcceptThreshold(), 0u);
    EXPECT_EQ(p.cluster.getMaxLandmarks(), 100u);
    EXPECT_EQ(p.cluster.getMinOverlapLength(), 2.0f);
    EXPECT_EQ(p.cluster.getMinPercentMatch(), 0.5f);
    EXPECT_EQ(p.cluster.getMinTemplateLength(), 0.0f);
    EXPECT_NE(p.out.find("DB DECAY RANGE: 0.5\n"), std::string::npos);
    EXPECT_NE(p.out.find("ACCEPT TRESHOLD: 0\n"), std::string::npos);
    EXPECT_NE(p.out.find("MAX LANDMARKS: 100\n"), std::string::npos);
}

TEST(CommandLine, FromStringReadsALeadingNumber) {
    int number = 0;
    EXPECT_TRUE(fromString(number, "  12abc", std::dec));
    EXPECT_EQ(number, 12);
    number = 0;
    EXPECT_FALSE(fromString(number, "abc", std::dec));
    EXPECT_EQ(number, 0);
    float real = 0;
    EXPECT_TRUE(fromString(real, "0.25", std::dec));
    EXPECT_EQ(real, 0.25f);
}

TEST(CommandLine, HelpTextFramesAndSections) {
    const std::string text = help();
    EXPECT_EQ(text.rfind(std::string(80, '/') + "\n\n", 0), 0u);
    EXPECT_NE(text.find("various rquired and option settings listed below.\n\nEXAMPLE USAGE:"),
              std::string::npos);
    EXPECT_NE(text.find("feature extraction process.\n\n\n\n\nREQUIRED FLAGS:\n\n-f <folderpath>"),
              std::string::npos);
    EXPECT_NE(text.find("-h \n\n\t\t Prints the help menu.\n\n\n\nOPTIONAL FEATURE EXTRACTION"),
              std::string::npos);
    EXPECT_NE(text.find("\"too popular\""), std::string::npos);
    EXPECT_NE(text.find("within a neighborhood region.\n\n-timerange"), std::string::npos);
    const std::string tail = "       files is low, the match is rejected.\n\n\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

// Rates as editors and recorders write them: ratios of frame rates, sample rates in kHz; what
// is neither is refused and the default kept.
TEST(CommandLine, FrameRatesAsRatiosAndSampleRatesInKilohertz) {
    const auto runFlags = [](const std::vector<std::pair<const char*, const char*>>& flags) {
        RunOptions options;
        testing::internal::CaptureStdout();
        for (const auto& [flag, value] : flags) {
            int index = 0;
            EXPECT_TRUE(parseRunFlag(index, flag, value, options)) << flag;
        }
        testing::internal::GetCapturedStdout();
        return options;
    };
    RunOptions o = runFlags({{"-fps", "30000/1001"}, {"-refinerate", "48k"}});
    EXPECT_NEAR(o.fps, 29.97003, 1e-5);
    EXPECT_EQ(o.refineRate, 48000u);
    o = runFlags({{"-fps", "29.97"}, {"-refinerate", "44.1k"}});
    EXPECT_DOUBLE_EQ(o.fps, 29.97);
    EXPECT_EQ(o.refineRate, 44100u);
    o = runFlags(
        {{"-fps", "30/0"}, {"-fps", "25fps"}, {"-refinerate", "48kHz"}, {"-refinerate", "4.8"}});
    EXPECT_DOUBLE_EQ(o.fps, 25.0);
    EXPECT_EQ(o.refineRate, 0u);
}
