// The apply driver: output names, the checks that keep every input safe,
// one line per converted file, warnings about values outside the
// calibrated range, the progress bar and the batch summary.
#include "apply_batch.h"

#include "console.h"
#include "output_guard.h"
#include "parse.h"
#include "progress.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace tool {
namespace {

struct Job {
    std::string input, output;
};

std::string percent(uint64_t part, uint64_t whole) {
    if (part == whole) return "100";
    const double pct = 100.0 * static_cast<double>(part) / static_cast<double>(whole);
    if (pct < 0.1) return "< 0.1";
    if (pct > 99.9) return "> 99.9";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", pct);
    return buf;
}

// Warnings about values the calibration does not cover. The counts are of
// colour samples: pixels of grey pages, three per pixel of RGB ones.
void warn_outside(const std::string& input, const ApplyResult& applied, const CalSnapshot& info, uint32_t policy) {
    const ConvertReport& r = applied.report;
    if (r.colour_values == 0) return;
    const bool grey = std::all_of(applied.pages.begin(), applied.pages.end(),
                                  [](const PageLayout& p) { return p.colour == 1; });
    const std::string of = std::string(" % of ") + (grey ? "pixels" : "colour samples");
    const std::string range = fmt(info.range.min) + ".." + fmt(info.range.max);
    const std::string fate = (policy & ICAL_POLICY_OUTSIDE_NAN) != 0 ? "; they are NaN (--outside nan)" : "; give --range";
    if (r.stats.below > 0)
        warn(input + ": " + percent(r.stats.below, r.colour_values) + of + " lie below the calibrated range " + range + fate);
    if (r.stats.above > 0)
        warn(input + ": " + percent(r.stats.above, r.colour_values) + of + " lie above the calibrated range " + range + fate);
    if (r.stats.nan > 0)
        warn(input + ": " + percent(r.stats.nan, r.colour_values) + of + " are NaN (no data)" +
             ((policy & ICAL_POLICY_NAN_PROPAGATE) != 0 ? "; they stay NaN" : "; they take the first table entry (--nan first-entry)"));
}

std::string result_line(const Job& job, const ApplyResult& r, bool double_output) {
    const PageLayout& first = r.pages.front();
    std::string s = job.input + ": ";
    if (r.pages.size() > 1) s += std::to_string(r.pages.size()) + " pages, the first ";
    s += std::to_string(first.width) + " x " + std::to_string(first.height) + " " + first.describe() + " -> " + job.output +
         ": " + (double_output ? "64" : "32") + "-bit float, " + std::to_string(first.samples) + " sample" +
         (first.samples == 1 ? "" : "s") + " per pixel";
    return s;
}

std::vector<Job> plan(const std::vector<std::string>& files, const BatchOptions& o) {
    const bool batch = !o.out_dir.empty() || !o.suffix.empty();
    if (!batch) {
        if (files.size() != 2)
            fail("give an input and an output TIFF, or --out-dir DIR (or --suffix S) with any number of inputs", kExitUsage);
        return {{files[0], files[1]}};
    }
    if (!o.out_dir.empty()) {
        struct stat st {};
        if (::stat(o.out_dir.c_str(), &st) != 0) fail("--out-dir " + o.out_dir + ": " + std::strerror(errno));
        if (!S_ISDIR(st.st_mode)) fail("--out-dir " + o.out_dir + ": Not a directory");
    }
    std::vector<Job> jobs;
    for (const auto& in : files) jobs.push_back({in, batch_output_name(in, o.out_dir, o.suffix)});
    return jobs;
}

}  // namespace

std::string batch_output_name(const std::string& input, const std::string& out_dir, const std::string& suffix) {
    const auto slash = input.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : input.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? input : input.substr(slash + 1);
    std::string ext = ".tif";
    const auto dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        std::string e = base.substr(dot);
        for (char& ch : e) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (e == ".tif" || e == ".tiff") {
            ext = base.substr(dot);
            base.resize(dot);
        }
    }
    const std::string where = out_dir.empty() ? dir : (out_dir.back() == '/' ? out_dir : out_dir + "/");
    return where + base + suffix + ext;
}

void run_batch(const IntensityCal* cal, const CalSnapshot& info, const std::vector<std::string>& files,
               const BatchOptions& o) {
    const std::vector<Job> jobs = plan(files, o);
    const bool batch = jobs.size() > 1 || !o.out_dir.empty() || !o.suffix.empty();
    std::vector<std::string> protect = o.calibration_files;
    for (const auto& j : jobs) protect.push_back(j.input);

    Progress bar(jobs.size() > 1);
    std::vector<std::string> targets, target_owner;
    size_t failures = 0;
    for (size_t k = 0; k < jobs.size(); ++k) {
        const Job& job = jobs[k];
        const std::string label = jobs.size() > 1 ? "applying " + std::to_string(k + 1) + "/" + std::to_string(jobs.size()) : "applying";
        try {
            check_input_path(job.input);
            const std::string target = output_target(job.output, protect);
            for (size_t t = 0; t < targets.size(); ++t)
                if (targets[t] == target) fail(job.input + ": its output " + job.output + " is also the output of " + target_owner[t]);
            targets.push_back(target);
            target_owner.push_back(job.input);
            const auto progress = [&](uint64_t done, uint64_t total) {
                if (total >= Progress::kMinWork) bar.enable();
                bar.update(label, (static_cast<double>(k) + static_cast<double>(done) / static_cast<double>(total)) /
                                      static_cast<double>(jobs.size()));
            };
            const ApplyResult r = apply_file(cal, job.input, target, job.output, o.settings, progress);
            bar.clear();
            std::printf("%s\n", result_line(job, r, o.settings.format.double_output).c_str());
            std::fflush(stdout);
            for (const auto& note : r.report.notes) warn(note);
            warn_outside(job.input, r, info, o.settings.convert.policy);
        } catch (const ToolError& e) {
            bar.clear();
            if (!batch) throw;
            std::fprintf(stderr, "calmgr: %s\n", e.what());
            ++failures;
        }
    }
    if (failures > 0)
        fail(std::to_string(failures) + " of " + std::to_string(jobs.size()) + " image" + (jobs.size() == 1 ? "" : "s") +
             " failed; the others were written");
    if (batch) std::printf("%zu image%s converted\n", jobs.size(), jobs.size() == 1 ? "" : "s");
}

}  // namespace tool
