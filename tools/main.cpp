// calmgr: intensity calibrations of TIFF images, spatial conversions and
// polynomial fits from the command line. Every failure ends the program
// with one line on standard error and exit status 1 (2 for usage errors).
#include "commands.h"
#include "tool_common.h"

#include <cstdio>
#include <new>

namespace {

int report(const std::string& message, int status) {
    std::string line = message;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(stderr, "calmgr: %s\n", line.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"calmgr - calibrate images, convert pixel positions and fit polynomials"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "calmgr 1.0.0");
    tool::add_curve_command(app);
    tool::add_apply_command(app);
    tool::add_spatial_command(app);
    tool::add_fit_command(app);
    const auto known = [&](const std::string& name) {
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
            if (sub->get_name() == name) return true;
        return false;
    };
    if (argc > 1 && argv[1][0] != '-' && !known(argv[1]))
        return report(std::string("unknown subcommand '") + argv[1] + "' (use curve, apply, spatial or fit; see --help)", 2);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return report(std::string(e.what()) + " (see --help)", 2);
    } catch (const tool::ToolError& e) {
        return report(e.what(), 1);
    } catch (const std::bad_alloc&) {
        return report("out of memory", 1);
    } catch (const std::exception& e) {
        return report(e.what(), 1);
    }
    return 0;
}
