#include "cli/CommandLine.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "media/MediaLoader.h"

namespace Trelis {

namespace {

[[noreturn]] void missingFolder() {
    std::cout << "[ERROR]: Must provide folder path of media files to synchronize" << std::endl;
    printHelp();
    std::exit(1);
}

// One option: read the value, accept it when `valid` says so (print the label and store it), or
// refuse it (print the refusal and the value that stays).
template <typename T, typename Valid, typename Store, typename Current>
void option(const char* value, const char* label, const char* refusal, Valid valid, Store store,
            Current current) {
    T number = 0;
    if (fromString(number, value, std::dec) && valid(number)) {
        std::cout << label << number << std::endl;
        store(number);
    } else {
        std::cout << refusal << "Default is " << current() << std::endl;
    }
}

bool is(const char* flag, const char* name) {
    return std::strcmp(flag, name) == 0;
}

// Loads the media module for a run that asked for it, before any work rather than when the
// results are written; ends the program, saying why, when it can't be loaded.
void needMedia(const char* need) {
    try {
        mediaComponent();
    } catch (const std::exception& e) {
        std::cerr << "[ERROR]: " << need << ": " << e.what() << std::endl;
        std::exit(1);
    }
}

// A whole number or decimal with nothing after it; NaN otherwise.
double plainNumber(const std::string& text) {
    std::istringstream in(text);
    double value = 0.0;
    char rest = 0;
    if (!(in >> value) || (in >> rest)) {
        return std::nan("");
    }
    return value;
}

// A frame rate as editors write it: 25, 29.97 or 30000/1001; NaN when it is none of these.
double frameRate(const std::string& text) {
    const auto slash = text.find('/');
    if (slash == std::string::npos) {
        return plainNumber(text);
    }
    const double denominator = plainNumber(text.substr(slash + 1));
    return denominator > 0.0 ? plainNumber(text.substr(0, slash)) / denominator : std::nan("");
}

// A sample rate in Hz, or in kHz with a k: 48000, 48k, 44.1k; NaN otherwise.
double sampleRate(const std::string& text) {
    if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) {
        return plainNumber(text.substr(0, text.size() - 1)) * 1000.0;
    }
    return plainNumber(text);
}

}  // namespace

void printHelp() {
    std::cout
        << "////////////////////////////////////////////////////////////////////////////////\n"
        << std::endl;
    std::cout << "Trelis: a standalone application that clusters and synchronizes recordings\n"
                 "of the same event; -help-more lists the options beyond the ones below.\n\n";
    std::cout << "About: This program attempts to identify, group, and synchronize multiple\n"
                 "       recordings of the same event.  As input, wavfiles are processed (all\n"
                 "       with the same sample rate). The clustering process can be evaluated by\n"
                 "       providing a correctly formated truth.xml file. The clustered and \n"
                 "       sychronized wavfiles can then be output in a series of folders and\n"
                 "       updated wavefiles. The command line arguments can be used to specify\n"
                 "       various rquired and option settings listed below.\n\n";
    std::cout << "EXAMPLE USAGE:\n\n"
                 "EXAMPLE 1:\n\n"
                 "type: ./Trelis -f audiofolder\n\n"
                 "Description:   This simply runs the program and will attempt to\n"
                 "               cluster and synchronize all wavfiles in the audiofolder.\n\n"
                 "EXAMPLE 2:\n\n"
                 "type: ./Trelis -f audiofolder -t truth.xml\n\n"
                 "Description:   This runs the program as in EXAMPLE 1, and then \n"
                 "               additionally evaluates the clustering accuracy\n"
                 "               given the specified clusters in the truth.xml file.\n\n"
                 "EXAMPLE 3:\n\n"
                 "./Trelis -f audiofolder -t truth.xml -o outputfolder\n\n"
                 "Description:   This runs the program as in EXAMPLE 2, and then outputs \n"
                 "               updated audio files, separated by cluster to the outputfolder.\n\n"
                 "EXAMPLE 4:\n\n"
                 "./Trelis -f audiofolder -t truth.xml -o outputfolder -fftsize 1024\n\n"
                 "Description:   This runs the program as in EXAMPLE 3, but also\n"
                 "               changes the fftsize of the feature extraction process.\n\n";
    std::cout << std::endl << std::endl << std::endl;
    std::cout << "REQUIRED FLAGS:\n\n"
                 "-f <folderpath>\n\n"
                 "       Specify the folder path where the audio files are located.\n"
                 "\n\n";
    std::cout << "OPTIONAL FLAGS:\n\n"
                 "-t <filepath>\n\n"
                 "       Allows the user to input an xml specifying the groundtruth.\n"
                 "       To get an evaluation score, a correctly formated file must be given.\n"
                 "       Note, the file names in truth file must be identical to the audio file\n"
                 "       names.\n"
                 "\n\n";
    std::cout << "-o <folderpath>\n\n"
                 "       Allows the user to output the clustered and synchronized wavefiles.\n"
                 "       If given, the input wavefiles will be updated (synced) stored in the\n"
                 "       provided folderpath.\n"
                 "\n\n";
    std::cout << "-h \n\n\t\t Prints the help menu."
                 "\n\n";
    std::cout << "\n\nOPTIONAL FEATURE EXTRACTION FLAGS:\n\n"
                 "-fftsize \n\n"
                 "       Specify the fftsize in samples for feature extraction.\n"
                 "       The larger the fftsize, the more accurate the frequency of the peak \n"
                 "       picking can be, etc.  Note, however, that as this increases, the  \n"
                 "       landmark collisions will be more sparse and can negatively effect \n"
                 "       the clustering.\n"
                 "\n\n";
    std::cout << "-hopsize \n\n"
                 "       Specify the hopsize in samples for feature extraction.\n"
                 "       The smaller the hopsize, the more accurate the time of the peak\n"
                 "       picking can be, etc.  Note, however, that as this decreases, the \n"
                 "       landmark collisions will be more sparse and can negatively effect\n"
                 "       the clustering.\n"
                 "\n\n";
    std::cout
        << "-samplerate \n\n\t\t Specify the sample rate that is used for feature extraction.\n"
           "       This sample rate must be the same as the sample rate of all files used.\n"
           "       Note all default parameters are tuned to 8k audio.  Anything different \n"
           "       will probabily drastically change the clustering and synchronization.\n"
           "\n\n";
    std::cout << "-maxpeaksperframe \n\n"
                 "       Specify the maximum number of peaks that can be used per STFT frame.\n"
                 "       If there are more peaks in a given frame, the top amplitude peaks are\n"
                 "       saved.\n"
                 "\n\n";
    std::cout << "-maxpairsperpeak \n\n"
                 "       Specify the maximum number of landmarks that can be\n"
                 "       enerated from a set of time-frequency peaks.\n"
                 "       Neighboring peaks are paired together. This specifies the maximum number\n"
                 "       of resulting pairs from all peaks within a given neighborhood.\n"
                 "\n\n";
    std::cout
        << "-dbthreshold \n\n"
           "       Specify the lower threshold limit (in negative dB) for pruning peaks.\n"
           "       When computing frequency peaks from the STFT, the peaks are normalized \n"
           "       to the maximum level of the STFT magnitude.  All values below the maximum\n"
           "       level by dbthreshold will be removed and not used to cluster or sync.\n"
           "       This helps remove erroneous or low amplitude peaks.\n"
           "\n\n";
    std::cout
        << "-freqrange \n\n"
           "       Specify the frequency range in fft bins used to match peaks \n"
           "       together. Neighboring peaks are paried together to generate the resulting\n"
           "       landmarks. The larger the freqrange, the greater the number of peaks \n"
           "       within a neighborhood region."
           "\n\n";
    std::cout
        << "-timerange \n\n"
           "       Specify the time range in hopsize units used to match peaks together.\n"
           "       Neighboring peaks are paried together to generate the resulting landmarks.\n"
           "       The larger the timerange, the greater the number of peaks within a \n"
           "       neighborhood region."
           "\n\n";
    std::cout << "-decayperframe \n\n"
                 "       Specify the decay rate used for the threshold detector in dB per frame.\n"
                 "       A threshold detector is used to detect when time-frequency peaks occur \n"
                 "       when processing the STFT.  The current threshold level is decayed from \n"
                 "       frame-to-frame.  This controls how fast the threshold decays. \n"
                 "       The larger the decayperframe, the faster the threshold decays\n"
                 "       causing more masking of the peaks over time (and more landmarks)."
                 "\n\n";
    std::cout
        << "-peakwidth \n\n"
           "       Specify the width of the Gaussian that is used to mask the found peaks.\n"
           "       Local frequency peaks are used to update the current threshold level detector.\n"
           "       To update the threshold, a Gaussian window is placed around each local peak.\n"
           "       The larger the peakwidth, the less peaks (and landmarks) are found, as more\n"
           "       mask from the window occurs across frequency.\n"
           "\n\n";
    std::cout
        << "-peakdynrange \n\n"
           "       Specify the dynamic range of the Gaussian that is used to mask the found "
           "peaks.\n"
           "       Local frequency peaks are used to update the current threshold level detector.\n"
           "       To update the threshold, a Gaussian window is placed around each local peak.\n"
           "       the peakdynrange is the amplitude of the window in dB that is place at the "
           "peak\n"
           "       location.\n"
           "\n\n";
    std::cout
        << "\n\nOPTIONAL CLUSTER AND SYNC FLAGS:\n\n"
           "-maxlandmarks \n\n"
           "       Specifies the threshold to remove landmarks that are \"too popular\".\n"
           "       When computing the landmarks for each file, certain landmarks are found to \n"
           "       be very common. These common landmarks are essentially just noise.  When \n"
           "       they are removed, it speeds things up and is more accurate.\n"
           "\n\n";
    std::cout
        << "-accepttreshold \n\n"
           "       Specifies the minumum number of matching landmarks needed to accept a match.\n"
           "       When deciding if two files should match, the number of identical matching \n"
           "       landmarks is computed.  Sometimes there will be a small amount of matching\n"
           "       landmarks that are caused by noise.  To filter out the noise, a threshold\n"
           "       is used to reject a match that has fewer than accepttreshold identical "
           "landmarks.\n"
           "\n\n";
    std::cout
        << "-mintemplatelength \n\n"
           "       Specifies the minimum template length in seconds needed to accept a match.\n"
           "       When deciding if two files should match, the number of identical matching \n"
           "       landmarks is computed.  The set of matching landmarks defines a template \n"
           "       region across time and frequency. When the time range (in seconds) of \n"
           "       the template is below mintemplatelength, the potential match is rejected.\n"
           "\n\n";
    std::cout
        << "-minoverlaplength \n\n"
           "       Specifies the minimum overlap length in seconds needed to accept a match.\n"
           "       When deciding if two files should match, the number of identical matching \n"
           "       landmarks is computed.  The set of matching landmarks implies a region of \n"
           "       overlap between the the two files. All potential matches that imply an \n"
           "       region of overlap below minoverlaplength are rejected.\n"
           "\n\n";
    std::cout
        << "-minpercentmatch \n\n"
           "       Specifies the minimum percent of landmarks that need to match on the overlap\n"
           "       region.  When deciding if two files should match, the number of matching\n"
           "       landmarks is computed. and compared to the total number of landmarks in \n"
           "       the overlap region.  If the total percentage of matching landmarks on both\n"
           "       files is low, the match is rejected.\n"
           "\n\n";
}

bool parseExtractionFlag(int& index, const char* flag, const char* value, MCExtractParams& params) {
    const auto positive = [](int v) { return v >= 1; };
    const auto above0 = [](float v) { return v > 0.0f; };
    if (is(flag, "-fftsize")) {
        option<int>(
            value, "FFTSIZE: ",
            "Invalid FFTSIZE.  "
            "Must be a power of two and greater than 0.\n",
            [](int v) { return v >= 1 && (v & (v - 1)) == 0; },
            [&](int v) { params.setFftSize(static_cast<unsigned>(v)); },
            [&] { return params.getFftSize(); });
    } else if (is(flag, "-hopsize")) {
        option<int>(
            value, "HOPSIZE: ", "Invalid HOPSIZE.  Must be greater than 0\n", positive,
            [&](int v) { params.setHopSize(static_cast<unsigned>(v)); },
            [&] { return params.getHopSize(); });
    } else if (is(flag, "-samplerate")) {
        option<int>(
            value, "SAMPLERATE: ", "Invalid SAMPLERATE.  Must be greater than 0\n", positive,
            [&](int v) {
                std::cout << "CAUTION: Changing the sample rate can drastically\n"
                          << "change things and needs to match the sample rate"
                          << "of ALL the files to be processed.\n";
                params.setSampleRate(static_cast<unsigned>(v));
            },
            [&] { return params.getSampleRate(); });
    } else if (is(flag, "-maxpairsperpeak")) {
        option<int>(
            value, "MAX PAIRS PER PEAK: ", "Invalid MAX PAIRS PER PEAK.  Must be greater than 0\n",
            positive, [&](int v) { params.setMaxPairsPerPeak(static_cast<unsigned>(v)); },
            [&] { return params.getMaxPairsPerPeak(); });
    } else if (is(flag, "-freqrange")) {
        option<int>(
            value, "FREQUENCY RANGE: ", "Invalid FREQUENCY RANGE.  Must be greater than 0\n",
            positive, [&](int v) { params.freqRange = static_cast<unsigned>(v); },
            [&] { return params.freqRange; });
    } else if (is(flag, "-timerange")) {
        option<int>(
            value, "TIME RANGE: ", "Invalid TIME RANGE.  Must be greater than 0\n", positive,
            [&](int v) { params.timeRange = static_cast<unsigned>(v); },
            [&] { return params.timeRange; });
    } else if (is(flag, "-decayperframe")) {
        option<float>(
            value, "DB DECAY RANGE: ", "Invalid DB DECAY RANGE.  Must be greater than 0\n", above0,
            [&](float v) { params.decayPerFrame = v; }, [&] { return params.decayPerFrame; });
    } else if (is(flag, "-peakwidth")) {
        option<float>(
            value, "PEAK WIDTH: ", "Invalid PEAK WIDTH.  Must be greater than 0\n", above0,
            [&](float v) { params.peakWidth = v; }, [&] { return params.peakWidth; });
    } else if (is(flag, "-dbthreshold")) {
        option<float>(
            value, "DB THRESHOLD: ", "Invalid DB THRESHOLD.  Must be less than 0\n",
            [](float v) { return v < 0.0f; }, [&](float v) { params.dbThreshold = v; },
            [&] { return params.dbThreshold; });
    } else if (is(flag, "-maxpeaksperframe")) {
        option<int>(
            value,
            "MAX PEAKS PER FRAME: ", "Invalid MAX PEAKS PER FRAME.  Must be greater than 0\n",
            positive, [&](int v) { params.maxPeaksPerFrame = static_cast<unsigned>(v); },
            [&] { return params.maxPeaksPerFrame; });
    } else if (is(flag, "-peakdynrange")) {
        option<float>(
            value, "PEAK DYNAMIC RANGE: ", "Invalid PEAK DYNAMIC RANGE.  Must be greater than 0\n",
            above0, [&](float v) { params.peakDynRange = v; }, [&] { return params.peakDynRange; });
    } else {
        return false;
    }
    ++index;
    return true;
}

bool parseClusterFlag(int& index, const char* flag, const char* value,
                      MCClusterSyncParams& params) {
    const auto atLeast0 = [](float v) { return v >= 0.0f; };
    if (is(flag, "-maxlandmarks")) {
        // Accepted when the setter takes it; a failed read offers it 0, which it refuses.
        long long number = 0;
        fromString(number, value, std::dec);
        if (number >= 0 && number <= 0xFFFFFFFFll &&
            params.setMaxLandmarks(static_cast<unsigned>(number))) {
            std::cout << "MAX LANDMARKS: " << number << std::endl;
        } else {
            std::cout << "Invalid MAX LANDMARKS.\n"
                      << "Default is " << params.getMaxLandmarks() << std::endl;
        }
    } else if (is(flag, "-accepttreshold")) {
        option<int>(
            value, "ACCEPT TRESHOLD: ", "Invalid ACCEPT TRESHOLD.  Must be greater than 0.\n",
            [](int v) { return v >= 0; },
            [&](int v) { params.setAcceptThreshold(static_cast<unsigned>(v)); },
            [&] { return params.getAcceptThreshold(); });
    } else if (is(flag, "-mintemplatelength")) {
        option<float>(
            value, "MIN TEMPLATE LENGTH: ",
            "Invalid MIN TEMPLATE LENGTH.  "
            "Must be greater than or equal to 0.\n",
            atLeast0, [&](float v) { params.setMinTemplateLength(v); },
            [&] { return params.getMinTemplateLength(); });
    } else if (is(flag, "-minoverlaplength")) {
        option<float>(
            value, "MIN OVERLAP LENGTH: ",
            "Invalid MIN OVERLAP LENGTH.  Must be greater than or equal to 0.\n", atLeast0,
            [&](float v) { params.setMinOverlapLength(v); },
            [&] { return params.getMinOverlapLength(); });
    } else if (is(flag, "-minpercentmatch")) {
        option<float>(
            value, "MIN PERCENT MATCH: ",
            "Invalid MIN PERCENT MATCH.  Must be greater than or equal to 0.\n", atLeast0,
            [&](float v) { params.setMinPercentMatch(v); },
            [&] { return params.getMinPercentMatch(); });
    } else {
        return false;
    }
    ++index;
    return true;
}

void printRunHelp() {
    std::cout << "\n\nOPTIONAL MATCHING FLAGS:\n\n"
                 "-match <spec|verified>\n\n"
                 "       How two recordings are judged to share an event. spec (the default)\n"
                 "       accepts a pair by the thresholds above, on its best offset alone: quick,\n"
                 "       and sure on clean, close recordings of music, but it misses far\n"
                 "       cameras, speech, noisy or short clips and drifting clocks. verified\n"
                 "       keeps the few offsets of every pair that stand out from chance, checks\n"
                 "       each on the audio itself, and links a pair only when the sound agrees\n"
                 "       over the whole overlap; pairs with two equally good offsets (repeated\n"
                 "       material) are left unlinked and named in the JSON. Choose verified for\n"
                 "       recordings made in the field; it reads the audio a second time, so it\n"
                 "       takes longer. The acceptance thresholds above do not apply to it.\n"
                 "\n\n";
    std::cout << "-popularity <total|recording>\n\n"
                 "       How a landmark hash is judged too popular to be matched. total (the\n"
                 "       default) drops a hash held by more than -maxlandmarks landmarks over all\n"
                 "       files. recording leaves out a recording's landmarks of a hash only when\n"
                 "       it holds more than a tenth of -maxlandmarks of them: an event recorded\n"
                 "       by a crowd (a hundred phones at one concert) keeps its true matches.\n"
                 "       Matching then takes longer, growing with the square of the recordings\n"
                 "       of one event.\n"
                 "\n\n";
    std::cout << "\n\nOPTIONAL MEDIA FLAGS:\n\n"
                 "-media all\n\n"
                 "       Takes every file of the folder that FFmpeg decodes: camera and phone\n"
                 "       video (MP4, MOV, MTS, MXF), audio (M4A, MP3, FLAC, ...) and WAVE files\n"
                 "       at any sample rate and channel count. All channels are mixed and the\n"
                 "       sound is resampled to the extraction sample rate. Without it, only .wav\n"
                 "       files at the extraction sample rate are taken.\n"
                 "\n\n";
    std::cout << "-stream <n>\n\n"
                 "       With -media all, takes the n-th audio stream (from 1) of files that have\n"
                 "       several, as professional cameras do. By default the stream with the\n"
                 "       loudest sound over its first minute is taken; files with fewer than n\n"
                 "       streams keep that choice. The JSON names the stream taken.\n"
                 "\n\n";
    std::cout << "-recursive\n\n"
                 "       Takes the files of every subfolder too (camera cards keep clips in\n"
                 "       DCIM/100GOPRO and the like); folders whose names start with \".\" are\n"
                 "       left out. Recordings whose names collide are named by their path within\n"
                 "       the folder. Takes no value.\n"
                 "\n\n";
    std::cout << "-refinerate <Hz>\n\n"
                 "       The sample rate of the sample-accurate refinement (default: the\n"
                 "       extraction sample rate), in Hz or kHz: 48000 or 48k aligns two recorders\n"
                 "       to a fraction of a millisecond.\n"
                 "\n\n";
    std::cout << "-refine off\n\n"
                 "       Leaves out the sample-accurate refinement: every offset stays as\n"
                 "       clustering found it, to a frame.\n"
                 "\n\n";
    std::cout << "-maxdrift <ppm>\n\n"
                 "       The largest difference of two recorders' clocks that the refinement\n"
                 "       follows, in parts per million (default 200).\n"
                 "\n\n";
    std::cout << "-driftcorrect\n\n"
                 "       With -o, resamples every member whose clock drift was measured onto\n"
                 "       the clock of its cluster's reference, so that long takes stay in sync\n"
                 "       to the end. Takes no value.\n"
                 "\n\n";
    std::cout << "-j <n>\n\n"
                 "       Runs on n threads (default: one per core). The results and every line\n"
                 "       printed are the same for any n; only the time changes.\n"
                 "\n\n";
    std::cout << "\n\nOPTIONAL RESULT FLAGS:\n\n"
                 "-json <filepath>\n\n"
                 "       Writes the result as JSON: settings, every input file, every cluster\n"
                 "       with its members' offsets and accepted pairs, and the files that matched\n"
                 "       nothing. With -json - it goes to standard output, and the report to\n"
                 "       standard error.\n"
                 "\n\n";
    std::cout << "-timeline <filepath>\n\n"
                 "       Writes one timeline per cluster for video editors, each member on a\n"
                 "       track of its own at its synchronized offset: OpenTimelineIO when the\n"
                 "       path ends in .otio, Final Cut Pro 7 XML (Premiere Pro, DaVinci Resolve)\n"
                 "       when it ends in .xml.\n"
                 "\n\n";
    std::cout << "-html <filepath>\n\n"
                 "       Writes the report as one page to open in a browser, offline: a timeline\n"
                 "       per cluster with every member's bar at its offset, its loudness, status,\n"
                 "       confidence and drift, the links of each cluster, the files that matched\n"
                 "       nothing or could not be read, the settings and the evaluation.\n"
                 "\n\n";
    std::cout
        << "-fps <rate>\n\n"
           "       The frame rate of XML timelines whose members have no video (default 25),\n"
           "       as a number or a ratio: 25, 29.97, 30000/1001.\n"
           "\n\n";
}

bool parseRunFlag(int& index, const char* flag, const char* value, RunOptions& options) {
    if (is(flag, "-media")) {
        if (is(value, "all")) {
            needMedia("-media all needs the media decoder");
            std::cout << "MEDIA: all" << std::endl;
            options.allMedia = true;
        } else {
            std::cout << "Invalid MEDIA.  Must be all.\nDefault is wav" << std::endl;
        }
    } else if (is(flag, "-json")) {
        std::cout << "JSON: " << value << std::endl;
        options.jsonPath = value;
    } else if (is(flag, "-timeline")) {
        const std::string path = value;
        const auto endsWith = [&](const char* end) {
            const std::string e = end;
            return path.size() > e.size() && path.compare(path.size() - e.size(), e.size(), e) == 0;
        };
        if (endsWith(".otio") || endsWith(".xml")) {
            std::cout << "TIMELINE: " << path << std::endl;
            options.timelinePath = path;
        } else {
            std::cout << "Invalid TIMELINE.  Must end in .otio or .xml\nDefault is none"
                      << std::endl;
        }
    } else if (is(flag, "-html")) {
        std::cout << "HTML: " << value << std::endl;
        options.htmlPath = value;
    } else if (is(flag, "-fps")) {
        const double rate = frameRate(value);
        if (rate >= 1.0 && rate <= 240.0) {
            std::cout << "FRAME RATE: " << value << std::endl;
            options.fps = rate;
        } else {
            std::cout << "Invalid FRAME RATE.  Must be between 1 and 240.\nDefault is "
                      << options.fps << std::endl;
        }
    } else if (is(flag, "-match")) {
        if (is(value, "spec") || is(value, "verified")) {
            options.verified = is(value, "verified");
            std::cout << "MATCH: " << value << std::endl;
        } else {
            std::cout << "Invalid MATCH.  Must be spec or verified.\nDefault is spec" << std::endl;
        }
    } else if (is(flag, "-refine")) {
        if (is(value, "off") || is(value, "on")) {
            options.refine = is(value, "on");
            std::cout << "REFINE: " << value << std::endl;
        } else {
            std::cout << "Invalid REFINE.  Must be on or off.\nDefault is on" << std::endl;
        }
    } else if (is(flag, "-maxdrift")) {
        option<double>(
            value, "MAX DRIFT: ", "Invalid MAX DRIFT.  Must be between 0 and 2000 ppm.\n",
            [](double v) { return v >= 0.0 && v <= 2000.0; },
            [&](double v) { options.maxDriftPpm = v; }, [&] { return options.maxDriftPpm; });
    } else if (is(flag, "-popularity")) {
        if (is(value, "total") || is(value, "recording")) {
            options.perRecording = is(value, "recording");
            std::cout << "POPULARITY: " << value << std::endl;
        } else {
            std::cout << "Invalid POPULARITY.  Must be total or recording.\nDefault is total"
                      << std::endl;
        }
    } else if (is(flag, "-j")) {
        option<int>(
            value, "THREADS: ", "Invalid THREADS.  Must be between 1 and 1024.\n",
            [](int v) { return v >= 1 && v <= 1024; },
            [&](int v) { options.threads = static_cast<unsigned>(v); },
            [&]() -> std::string {
                return options.threads == 0 ? "one per core" : std::to_string(options.threads);
            });
    } else if (is(flag, "-stream")) {
        option<int>(
            value, "AUDIO STREAM: ", "Invalid AUDIO STREAM.  Must be between 1 and 64.\n",
            [](int v) { return v >= 1 && v <= 64; }, [&](int v) { options.audioStream = v; },
            [&]() -> std::string {
                return options.audioStream == 0 ? "the loudest"
                                                : std::to_string(options.audioStream);
            });
    } else if (is(flag, "-refinerate")) {
        const double rate = sampleRate(value);
        if (rate >= 1000.0 && rate <= 384000.0) {
            options.refineRate = static_cast<unsigned>(std::lround(rate));
            std::cout << "REFINE SAMPLE RATE: " << options.refineRate << std::endl;
        } else {
            std::cout << "Invalid REFINE SAMPLE RATE.  Must be between 1000 and 384000.\nDefault "
                         "is "
                      << (options.refineRate == 0 ? std::string("the extraction sample rate")
                                                  : std::to_string(options.refineRate))
                      << std::endl;
        }
    } else {
        return false;
    }
    ++index;
    return true;
}

int parseArguments(int argc, char** argv, std::string& folder, std::string& truthFile,
                   std::string& outputFolder, MCExtractParams& extractParams,
                   MCClusterSyncParams& clusterParams) {
    RunOptions ignored;
    return parseArguments(argc, argv, folder, truthFile, outputFolder, extractParams, clusterParams,
                          ignored);
}

int parseArguments(int argc, char** argv, std::string& folder, std::string& truthFile,
                   std::string& outputFolder, MCExtractParams& extractParams,
                   MCClusterSyncParams& clusterParams, RunOptions& options) {
    if (argc < 2) {
        if (!folder.empty()) {
            return 0;
        }
        missingFolder();
    }
    for (int i = 1; i < argc; ++i) {
        const char* flag = argv[i];
        if (is(flag, "-h") || is(flag, "-help")) {
            printHelp();
            continue;
        }
        if (is(flag, "-help-more")) {
            printRunHelp();
            continue;
        }
        if (is(flag, "-driftcorrect")) {
            needMedia("-driftcorrect needs FFmpeg's resampler");
            std::cout << "DRIFT CORRECTION: on" << std::endl;
            options.driftCorrect = true;
            continue;
        }
        if (is(flag, "-recursive")) {
            std::cout << "RECURSIVE: on" << std::endl;
            options.recursive = true;
            continue;
        }
        if (i + 1 >= argc) {
            continue;  // a flag without a value at the end is ignored
        }
        const char* value = argv[i + 1];
        std::cout << flag << " " << value << std::endl;
        if (parseExtractionFlag(i, flag, value, extractParams) ||
            parseClusterFlag(i, flag, value, clusterParams) ||
            parseRunFlag(i, flag, value, options)) {
            continue;
        }
        if (is(flag, "-f")) {
            folder = value;
        } else if (is(flag, "-t")) {
            truthFile = value;
        } else if (is(flag, "-o")) {
            outputFolder = value;
        } else {
            // The value is not consumed: it is examined next as a flag of its own.
            std::cout << "Unknown input arguments" << std::endl;
            printHelp();
            continue;
        }
        ++i;
    }
    if (folder.empty()) {
        missingFolder();
    }
    return 0;
}

}  // namespace Trelis
