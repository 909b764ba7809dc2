// The subcommands of the calmgr tool. Each registers its options on the
// application and runs from its callback; failures raise ToolError.
#pragma once

#include <CLI/CLI.hpp>

namespace tool {

void add_curve_command(CLI::App& app);
void add_apply_command(CLI::App& app);
void add_info_command(CLI::App& app);
void add_check_command(CLI::App& app);
void add_invert_command(CLI::App& app);
void add_spatial_command(CLI::App& app);
void add_fit_command(CLI::App& app);

}  // namespace tool
