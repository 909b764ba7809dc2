// calmgr: intensity calibrations of TIFF images, spatial conversions and
// polynomial fits from the command line. Every failure ends the program
// with one line on standard error and a non-zero exit status: 1 for a
// failure, 2 for a usage error, 3 for a calibration refused for its
// findings.
#include "calmgr.h"
#include "commands.h"
#include "tool_error.h"

#include <csignal>
#include <cstdio>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace {

int report(const std::string& message, int status) {
    std::string line = message;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(stderr, "calmgr: %s\n", line.c_str());
    return status;
}

// CLI11 lists unexpected arguments as "The following argument(s) was/were
// not expected: ARG ...", last one first; the first option among them (or
// else the first argument) is what the user needs to see.
std::string explain_extras(const std::string& what) {
    const auto colon = what.find(": ");
    std::vector<std::string> args;
    std::istringstream in(colon == std::string::npos ? what : what.substr(colon + 2));
    for (std::string a; in >> a;) args.insert(args.begin(), a);
    for (const auto& a : args)
        if (a.size() > 1 && a[0] == '-') return "unknown option " + a;
    return "unexpected argument '" + (args.empty() ? what : args.front()) + "'";
}

std::string version_text() {
    const std::string header = std::to_string(CALMGR_VERSION_MAJOR) + "." + std::to_string(CALMGR_VERSION_MINOR) + "." +
                               std::to_string(CALMGR_VERSION_PATCH);
    const std::string library = CalVersion();
    return "calmgr " + header + (library == header ? "" : " (library " + library + ")");
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit then shows as a failed write ("File too large")
    // that the tool reports and cleans up after, not as a silent kill.
    std::signal(SIGXFSZ, SIG_IGN);
    CLI::App app{"calmgr - calibrate images, convert pixel positions and fit polynomials"};
    app.require_subcommand(1);
    app.set_version_flag("--version", version_text());
    tool::add_curve_command(app);
    tool::add_apply_command(app);
    tool::add_info_command(app);
    tool::add_check_command(app);
    tool::add_invert_command(app);
    tool::add_spatial_command(app);
    tool::add_fit_command(app);
    std::string commands;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        commands += (commands.empty() ? "" : ", ") + sub->get_name();
    const auto known = [&](const std::string& name) {
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
            if (sub->get_name() == name) return true;
        return false;
    };
    if (argc > 1 && argv[1][0] != '-' && !known(argv[1]))
        return report(std::string("unknown subcommand '") + argv[1] + "' (use " + commands + "; see --help)", tool::kExitUsage);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e);
    } catch (const CLI::ExtrasError& e) {
        return report(explain_extras(e.what()) + " (see --help)", tool::kExitUsage);
    } catch (const CLI::ParseError& e) {
        return report(std::string(e.what()) + " (see --help)", tool::kExitUsage);
    } catch (const tool::ToolError& e) {
        return report(e.what(), e.status);
    } catch (const std::bad_alloc&) {
        return report("out of memory", tool::kExitFailure);
    } catch (const std::exception& e) {
        return report(e.what(), tool::kExitFailure);
    }
    return 0;
}
