#include "results/HtmlReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "results/TextEncoding.h"

namespace Trelis {

namespace {

// Pages with more bars than this open only their first clusters; the rest open on a click.
constexpr std::size_t kBarsShownOpen = 60;
constexpr std::size_t kClustersOpenWhenLarge = 5;
// Loudness shown in a bar: the quieter part of a recording sinks to its floor, and the 5 dB swell
// of a song still shows.
constexpr double kEnvelopeRangeDb = 36.0;

// Text for an element's content or an attribute's value.
std::string escape(const std::string& text) {
    std::string out;
    for (const char c : cleanName(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string fixed(double value, int decimals) {
    if (!std::isfinite(value)) {
        return "n/a";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    // "-0.0" reads as a sign that means nothing.
    const std::string s = text;
    return s.find_first_not_of("-0.") == std::string::npos ? s.substr(s.front() == '-') : s;
}

std::string signedPpm(double ppm, double error) {
    const std::string text = fixed(ppm, error < 0.5 ? 1 : 0);
    return (ppm >= 0.0 && text.front() != '-' ? "+" : "") + text + " ppm";
}

// Axis labels: seconds on short timelines, minutes and seconds on long ones.
std::string clockLabel(double seconds, bool minutes) {
    if (!minutes) {
        return fixed(seconds, 0) + " s";
    }
    const long long whole = std::llround(seconds);
    const long long magnitude = whole < 0 ? -whole : whole;
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld:%02lld", whole < 0 ? "-" : "", magnitude / 60,
                  magnitude % 60);
    return text;
}

double durationOf(const InputFile* file) {
    if (file == nullptr || file->info.sampleRate <= 0 || file->info.frames <= 0) {
        return 0.0;
    }
    return static_cast<double>(file->info.frames) / file->info.sampleRate;
}

// The colour class of a bar: how far its placement can be trusted.
const char* barClass(const MemberAlignment& a) {
    switch (a.status) {
        case MemberAlignment::Status::Reference:
            return "ref";
        case MemberAlignment::Status::Grouped:
            return "grouped";
        case MemberAlignment::Status::Unrefined:
            return "kept";
        case MemberAlignment::Status::Refined:
            break;
    }
    return a.confidence >= 0.5 ? "high" : (a.confidence >= 0.2 ? "mid" : "low");
}

std::string statusText(const MemberAlignment& a) {
    switch (a.status) {
        case MemberAlignment::Status::Reference:
            return "reference";
        case MemberAlignment::Status::Refined:
            return "refined ±" + fixed(a.offsetError * 1e3, 3) + " ms, confidence " +
                   fixed(a.confidence, 2);
        case MemberAlignment::Status::Grouped:
            return std::string("refined within its own group only: ") + describe(a.reason);
        case MemberAlignment::Status::Unrefined:
            break;
    }
    return std::string("frame estimate kept: ") + describe(a.reason);
}

// Drift worth showing: measured, and clearly not zero (as the text report's drift line has it).
bool drifts(const MemberAlignment& a) {
    return a.status == MemberAlignment::Status::Refined && a.driftMeasured &&
           std::fabs(a.driftPpm) >= std::max(1.0, 3.0 * a.driftError);
}

// The envelope as a filled step outline in a box `levels` wide and 32 high: 0 dB at the top,
// kEnvelopeRangeDb below it at the bottom; equal neighbours share one step, which keeps long pages
// small.
std::string envelopeSvg(const std::vector<float>& levels) {
    if (levels.empty()) {
        return "";
    }
    std::string path = "M0 32";
    int last = -1;
    int run = 0;
    const auto flush = [&] {
        if (run > 0) {
            path += "V" + std::to_string(last) + "h" + std::to_string(run);
        }
    };
    for (const float level : levels) {
        const double db = std::isfinite(level) ? std::clamp<double>(level, -kEnvelopeRangeDb, 0.0)
                                               : -kEnvelopeRangeDb;
        const int y =
            32 - static_cast<int>(std::lround((db + kEnvelopeRangeDb) / kEnvelopeRangeDb * 30.0));
        if (y != last) {
            flush();
            last = y;
            run = 0;
        }
        ++run;
    }
    flush();
    path += "V32Z";
    return "<svg class=\"env\" viewBox=\"0 0 " + std::to_string(levels.size()) +
           " 32\" preserveAspectRatio=\"none\" aria-hidden=\"true\"><path d=\"" + path +
           "\"/></svg>";
}

std::string meter(double confidence) {
    const double shown = std::isfinite(confidence) ? std::clamp(confidence, 0.0, 1.0) : 0.0;
    return "<span class=\"meter\"><span style=\"width:" + fixed(shown * 100.0, 0) +
           "%\"></span></span> " + fixed(confidence, 2);
}

struct Page {
    const RunReport& report;
    std::map<int, const InputFile*> files;
    std::string html;

    std::string name(int id) const {
        const auto found = files.find(id);
        return found != files.end() ? escape(found->second->name) : "file " + std::to_string(id);
    }
    std::string path(int id) const {
        const auto found = files.find(id);
        return found != files.end() ? escape(found->second->path) : "";
    }
    const InputFile* file(int id) const {
        const auto found = files.find(id);
        return found != files.end() ? found->second : nullptr;
    }
    void add(const std::string& text) { html += text; }
};

void head(Page& page, std::size_t shown, std::size_t unreadable) {
    const RunReport& report = page.report;
    page.add(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>\n"
        "<title>Trelis report: " +
        std::to_string(report.files.size()) + " files, " + std::to_string(shown) +
        (shown == 1 ? " cluster" : " clusters") + "</title>\n<style>\n");
    page.add(R"(body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#1d232b;background:#fff}
h1{font-size:1.5em;margin:0 0 .2em}h2{font-size:1.15em;margin:1.6em 0 .5em;border-bottom:1px solid #ccd}
.summary{color:#444}.legend span{display:inline-block;margin-right:1em}
.sw{display:inline-block;width:1.6em;height:.9em;vertical-align:middle;margin-right:.3em;border-radius:2px}
.ref{background:#3b6fd1}.high{background:#2e9b58}.mid{background:#e0a526}.low{background:#d4463a}
.grouped{background:#8a63c9}.kept{background:repeating-linear-gradient(135deg,#999 0 4px,#ccc 4px 8px)}
details.cluster{border:1px solid #d5d9e0;border-radius:6px;margin:.8em 0;padding:.3em .8em .8em}
details.cluster>summary{cursor:pointer;font-weight:600;padding:.3em 0}
.note{font-weight:400;color:#555}
.row{display:grid;grid-template-columns:minmax(12em,24em) 1fr;gap:.8em;align-items:center;break-inside:avoid}
.label{overflow:hidden;min-width:0}.name{font-weight:600;display:block;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.about{font-size:.85em;color:#444}.drift{color:#8a2d9e;font-weight:600}
.track{position:relative;height:34px;background:#f3f5f8;border-radius:3px;margin:3px 0}
.bar{position:absolute;top:1px;bottom:1px;min-width:2px;border-radius:3px;overflow:hidden}
.env{display:block;width:100%;height:100%}.env path{fill:rgba(255,255,255,.55)}
.axis{position:relative;height:1.3em;font-size:.8em;color:#555}
.tick{position:absolute;border-left:1px solid #99a;padding-left:2px;white-space:nowrap}
table{border-collapse:collapse;margin:.5em 0}th,td{text-align:left;padding:.15em .8em .15em 0;vertical-align:top}
th{font-weight:600;border-bottom:1px solid #ccd}td.n{text-align:right;font-variant-numeric:tabular-nums}
tr.weak td{color:#b3261e}
.meter{display:inline-block;width:4em;height:.6em;background:#e4e7ec;vertical-align:middle}
.meter span{display:block;height:100%;background:#2e9b58}
ul.cols{columns:18em;padding-left:1.2em}
.controls button{font:inherit;margin-right:.5em}
@media print{body{margin:0;font-size:11px}.controls{display:none}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}details.cluster{break-inside:avoid}}
</style>
</head>
)");
    page.add("<body data-files=\"" + std::to_string(report.files.size()) + "\" data-clusters=\"" +
             std::to_string(shown) + "\">\n<h1>Trelis report</h1>\n<p class=\"summary\">" +
             std::to_string(report.files.size()) + " files: " + std::to_string(shown) +
             (shown == 1 ? " cluster" : " clusters") + ", " +
             std::to_string(report.unmatched.size()) + " matched nothing, " +
             std::to_string(unreadable) + " could not be read. Offsets are seconds after the " +
             "earliest recording of each cluster, on its reference's clock.</p>\n");
    page.add(
        "<p class=\"legend\"><span><i class=\"sw ref\"></i>reference</span>"
        "<span><i class=\"sw high\"></i>refined, confidence 0.5 or more</span>"
        "<span><i class=\"sw mid\"></i>0.2 to 0.5</span>"
        "<span><i class=\"sw low\"></i>below 0.2</span>"
        "<span><i class=\"sw grouped\"></i>refined within its own group</span>"
        "<span><i class=\"sw kept\"></i>frame estimate kept</span></p>\n");
}

// Tick marks every 1, 2 or 5 times a power of ten seconds (or whole minutes), eight at most.
void axis(Page& page, double start, double span) {
    const bool minutes = span >= 180.0;
    const double steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200};
    double step = steps[sizeof steps / sizeof steps[0] - 1];
    for (const double s : steps) {
        if (span / s <= 8.0) {
            step = s;
            break;
        }
    }
    while (span / step > 8.0) {
        step *= 2.0;
    }
    page.add("<div class=\"row\"><div></div><div class=\"axis\">");
    const long long first = static_cast<long long>(std::ceil(start / step));
    for (long long k = first; (k * step - start) / span <= 1.0; ++k) {
        const double at = (k * step - start) / span * 100.0;
        if (at > 96.0) {
            break;  // a label at the right edge would run off the track
        }
        page.add("<span class=\"tick\" style=\"left:" + fixed(at, 4) + "%\">" +
                 clockLabel(k * step, minutes) + "</span>");
    }
    page.add("</div></div>\n");
}

void linksTable(Page& page, const ReportCluster& cluster) {
    if (cluster.linked.empty() && cluster.pairs.empty()) {
        return;
    }
    page.add("<table class=\"links\">\n<tr><th>Linked pair</th><th>Offset</th>");
    if (!cluster.linked.empty()) {
        page.add("<th>Votes (by chance)</th><th>Windows agreeing</th><th>Strength</th>");
    } else {
        page.add("<th>Matches</th><th>Overlap</th>");
    }
    page.add("<th>Confidence</th></tr>\n");
    for (const PairMatch& m : cluster.linked) {
        const PairAlignment& a = m.alignment;
        page.add(std::string("<tr") + (a.confidence < 0.2 ? " class=\"weak\"" : "") + "><td>" +
                 page.name(m.first) + " – " + page.name(m.second) + "</td><td class=\"n\">" +
                 fixed(a.offset, 6) + " s</td><td class=\"n\">" + fixed(m.votes, 0) + " (" +
                 fixed(m.chanceVotes, 2) + ")</td><td class=\"n\">" + std::to_string(a.agreeing) +
                 " of " + std::to_string(a.windows) + "</td><td class=\"n\">" +
                 fixed(a.strength, 1) + "</td><td>" + meter(a.confidence) + "</td></tr>\n");
    }
    for (const ReportPair& p : cluster.pairs) {
        page.add(std::string("<tr") + (p.confidence < 0.2 ? " class=\"weak\"" : "") + "><td>" +
                 page.name(p.first) + " – " + page.name(p.second) + "</td><td class=\"n\">" +
                 fixed(p.offset, 6) + " s</td><td class=\"n\">" + fixed(p.matches, 0) +
                 "</td><td class=\"n\">" + fixed(p.overlap, 1) + " s</td><td>" +
                 meter(p.confidence) + "</td></tr>\n");
    }
    page.add("</table>\n");
}

void clusterTimeline(Page& page, const ReportCluster& cluster, int number, bool open) {
    std::vector<const ReportMember*> members;
    double start = 0.0;
    double end = 0.0;
    for (const ReportMember& m : cluster.members) {
        members.push_back(&m);
        const double refined = std::isfinite(m.refined) ? m.refined : 0.0;
        start = std::min(start, refined);
        end = std::max(end, refined + durationOf(page.file(m.id)));
    }
    std::stable_sort(
        members.begin(), members.end(), [](const ReportMember* a, const ReportMember* b) {
            return a->refined < b->refined || (a->refined == b->refined && a->id < b->id);
        });
    const double span = end - start > 1e-3 ? end - start : 1.0;
    int kept = 0;
    int grouped = 0;
    int drifting = 0;
    double weakest = 1.0;
    for (const ReportMember* m : members) {
        kept += m->alignment.status == MemberAlignment::Status::Unrefined ? 1 : 0;
        drifting += drifts(m->alignment) ? 1 : 0;
        grouped += m->alignment.status == MemberAlignment::Status::Grouped ? 1 : 0;
        if (m->alignment.status != MemberAlignment::Status::Unrefined) {
            weakest = std::min(weakest, m->alignment.confidence);
        }
    }
    page.add("<details class=\"cluster\" id=\"cluster-" + std::to_string(number) + "\"" +
             (open ? " open=\"open\"" : "") + " data-start=\"" + fixed(start, 6) +
             "\" data-span=\"" + fixed(span, 6) + "\">\n<summary>Cluster " +
             std::to_string(number) + " <span class=\"note\">· " + std::to_string(members.size()) +
             " recordings · " + fixed(end - start, 1) + " s · lowest confidence " +
             fixed(weakest, 2));
    if (kept > 0) {
        page.add(" · " + std::to_string(kept) + " kept at the frame estimate");
    }
    if (grouped > 0) {
        page.add(" · " + std::to_string(grouped) + " placed only within their own group");
    }
    if (drifting > 0) {
        page.add(" · " + std::to_string(drifting) + " drifting");
    }
    page.add("</span></summary>\n");
    axis(page, start, span);
    for (const ReportMember* m : members) {
        const MemberAlignment& a = m->alignment;
        const double duration = durationOf(page.file(m->id));
        const double refined = std::isfinite(m->refined) ? m->refined : 0.0;
        const auto envelope = page.report.envelopes.find(m->id);
        page.add("<div class=\"row\"><div class=\"label\" title=\"" + page.path(m->id) +
                 "\"><span class=\"name\">" + page.name(m->id) +
                 "</span><span class=\"about\"><span class=\"offset\">" + fixed(refined, 6) +
                 " s</span> · <span class=\"status\">" + escape(statusText(a)) + "</span>");
        if (drifts(a)) {
            page.add(" · <span class=\"drift\">" + signedPpm(a.driftPpm, a.driftError) + "</span>");
        }
        page.add("</span></div><div class=\"track\"><div class=\"bar " + std::string(barClass(a)) +
                 "\" data-id=\"" + std::to_string(m->id) + "\" data-offset=\"" + fixed(refined, 6) +
                 "\" data-duration=\"" + fixed(duration, 6) +
                 "\" style=\"left:" + fixed((refined - start) / span * 100.0, 4) +
                 "%;width:" + fixed(duration / span * 100.0, 4) + "%\">" +
                 (envelope != page.report.envelopes.end() ? envelopeSvg(envelope->second) : "") +
                 "</div></div></div>\n");
    }
    linksTable(page, cluster);
    page.add("</details>\n");
}

void otherFiles(Page& page) {
    const RunReport& report = page.report;
    page.add("<h2 id=\"unmatched\">Matched nothing</h2>\n");
    if (report.unmatched.empty()) {
        page.add("<p>Every recording that was read joined a cluster.</p>\n");
    } else {
        page.add("<ul class=\"cols\">\n");
        for (const int id : report.unmatched) {
            page.add("<li data-id=\"" + std::to_string(id) + "\" title=\"" + page.path(id) + "\">" +
                     page.name(id) + " <span class=\"about\">" +
                     fixed(durationOf(page.file(id)), 1) + " s</span></li>\n");
        }
        page.add("</ul>\n");
    }
    page.add("<h2 id=\"unreadable\">Could not be read</h2>\n");
    bool any = false;
    for (const InputFile& file : report.files) {
        if (file.error.empty()) {
            continue;
        }
        if (!any) {
            page.add("<table>\n<tr><th>File</th><th>Why</th></tr>\n");
            any = true;
        }
        page.add("<tr data-id=\"" + std::to_string(file.id) + "\"><td title=\"" +
                 escape(file.path) + "\">" + escape(file.name) + "</td><td>" + escape(file.error) +
                 "</td></tr>\n");
    }
    page.add(any ? "</table>\n" : "<p>Every file was read.</p>\n");
    if (!report.ambiguous.empty()) {
        page.add("<h2 id=\"ambiguous\">Not linked: the sound agrees at two offsets</h2>\n<ul>\n");
        for (const PairMatch& m : report.ambiguous) {
            page.add("<li>" + page.name(m.first) + " and " + page.name(m.second) + ": " +
                     fixed(m.alignment.offset, 2) + " s (strength " +
                     fixed(m.alignment.strength, 1) + ") or " + fixed(m.rival.offset, 2) +
                     " s (strength " + fixed(m.rival.strength, 1) + ")</li>\n");
        }
        page.add("</ul>\n");
    }
}

void settingRow(Page& page, const std::string& name, const std::string& value) {
    page.add("<tr><td>" + name + "</td><td>" + value + "</td></tr>\n");
}

void settingsAndEvaluation(Page& page) {
    const RunReport& report = page.report;
    MCExtractParams extract = report.extract;  // getMaxPairsPerPeak is not const
    const MCClusterSyncParams& cluster = report.cluster;
    page.add("<h2 id=\"settings\">Settings</h2>\n<table>\n");
    settingRow(page, "Matching", report.verified ? "verified" : "spec");
    settingRow(page, "Popularity", report.perRecording ? "recording" : "total");
    settingRow(page, "Media", report.allMedia ? "all" : "wav");
    settingRow(page, "Extraction",
               std::to_string(extract.getSampleRate()) + " Hz, FFT " +
                   std::to_string(extract.getFftSize()) + ", hop " +
                   std::to_string(extract.getHopSize()) + ", " +
                   std::to_string(extract.getMaxPairsPerPeak()) + " pairs per peak");
    settingRow(page, "Clustering",
               "max landmarks " + std::to_string(cluster.getMaxLandmarks()) + ", accept " +
                   fixed(cluster.getAcceptThreshold(), 2) + ", template " +
                   fixed(cluster.getMinTemplateLength(), 2) + " s, overlap " +
                   fixed(cluster.getMinOverlapLength(), 2) + " s, match " +
                   fixed(cluster.getMinPercentMatch(), 2) + " %");
    settingRow(page, "Refinement",
               report.refine
                   ? "on, at " +
                         std::to_string(report.refineRate != 0 ? report.refineRate
                                                               : extract.getSampleRate()) +
                         " Hz, drift up to " + fixed(report.maxDriftPpm, 0) + " ppm"
                   : std::string("off"));
    settingRow(page, "Drift correction", report.driftCorrect ? "on" : "off");
    page.add("</table>\n");
    if (!report.evaluation) {
        return;
    }
    const Evaluation& e = *report.evaluation;
    page.add("<h2 id=\"evaluation\">Evaluation against the ground truth</h2>\n<table>\n");
    settingRow(page, "Pairwise precision, recall, F1",
               fixed(e.precision, 4) + ", " + fixed(e.recall, 4) + ", " + fixed(e.f1, 4));
    settingRow(
        page, "Clusters",
        std::to_string(e.foundClusters) + " found, " + std::to_string(e.trueClusters) + " true");
    settingRow(
        page, "Files",
        std::to_string(e.scored) + " scored of " + std::to_string(e.inTruth) + " in the truth");
    const auto errors = [](const OffsetErrors& o) {
        return o.pairs == 0 ? std::string("no pair")
                            : "median " + fixed(o.median, 3) + " ms, 95th percentile " +
                                  fixed(o.p95, 3) + " ms, largest " + fixed(o.max, 3) + " ms (" +
                                  std::to_string(o.pairs) + " pairs)";
    };
    settingRow(page, "Offset error, frame estimate", errors(e.frameAccurate));
    settingRow(page, "Offset error, refined", errors(e.refined));
    page.add("</table>\n");
}

// No '<' or '&' in it: the page stays well-formed XML.
const char* const kScript = R"(<script>
(function () {
  var body = document.body;
  function each(selector, action) {
    Array.prototype.forEach.call(document.querySelectorAll(selector), action);
  }
  function openAll(open) {
    each('details.cluster', function (d) { d.open = open; });
  }
  function onClick(id, action) {
    var button = document.getElementById(id);
    if (button) {
      button.addEventListener('click', action);
    }
  }
  try {
    onClick('open-all', function () { openAll(true); });
    onClick('close-all', function () { openAll(false); });
    window.addEventListener('beforeprint', function () { openAll(true); });
    each('.bar', function (bar) {
      var track = bar.parentNode.getBoundingClientRect();
      var box = bar.getBoundingClientRect();
      if (track.width > 0) {
        bar.setAttribute('data-drawn', (box.left - track.left).toFixed(2) + ' ' +
                         box.width.toFixed(2) + ' ' + track.width.toFixed(2));
      }
    });
    body.setAttribute('data-rendered', 'ok');
  } catch (e) {
    body.setAttribute('data-rendered', 'error: ' + e);
  }
})();
</script>
)";

}  // namespace

void writeHtmlReport(const RunReport& report, std::ostream& out) {
    Page page{report, {}, {}};
    std::size_t unreadable = 0;
    for (const InputFile& file : report.files) {
        page.files[file.id] = &file;
        unreadable += file.error.empty() ? 0 : 1;
    }
    std::size_t shown = 0;
    std::size_t bars = 0;
    for (const ReportCluster& cluster : report.clusters) {
        if (cluster.members.size() > 1) {
            ++shown;
            bars += cluster.members.size();
        }
    }
    head(page, shown, unreadable);
    page.add("<h2 id=\"clusters\">Clusters</h2>\n");
    if (shown == 0) {
        page.add("<p>No two recordings were found to share an event.</p>\n");
    } else {
        page.add(
            "<p class=\"controls\"><button type=\"button\" id=\"open-all\">Open all</button>"
            "<button type=\"button\" id=\"close-all\">Close all</button></p>\n");
    }
    std::size_t opened = 0;
    for (std::size_t k = 0; k < report.clusters.size(); ++k) {
        const ReportCluster& cluster = report.clusters[k];
        if (cluster.members.size() < 2) {
            continue;
        }
        const bool open = bars <= kBarsShownOpen || opened < kClustersOpenWhenLarge;
        opened += open ? 1 : 0;
        clusterTimeline(page, cluster, static_cast<int>(k) + 1, open);
    }
    otherFiles(page);
    settingsAndEvaluation(page);
    page.add("<p class=\"about\">Written by Trelis " TRELIS_VERSION ".</p>\n");
    page.add(kScript);
    page.add("</body>\n</html>\n");
    out << page.html;
}

}  // namespace Trelis
