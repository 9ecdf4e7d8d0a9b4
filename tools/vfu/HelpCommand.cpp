// vfu help [COMMAND]: the same help as "vfu --help" or "vfu COMMAND --help", in the form other
// command-line tools offer it.
#include "CommandRegistry.h"

#include <iostream>

namespace
{
const vfu::tool::CommandRegistration helpCommand ({
    "help",
    "Shows the help of vfu, or of one command",
    "Prints what \"vfu --help\" prints, or with COMMAND what \"vfu COMMAND --help\" prints.",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto command = std::make_shared<std::string>();
        app.add_option ("COMMAND", *command, "The command to explain");
        auto* self = &app;
        return [self, command]
        {
            auto* top = self->get_parent();
            if (command->empty())
            {
                // top->help() would show this command's own help: it is the one being run.
                std::cout << top->get_formatter()->make_help (top, top->get_name(), CLI::AppFormatMode::Normal);
                return vfu::tool::exitSuccess;
            }

            CLI::App* sub = nullptr;
            try
            {
                sub = top->get_subcommand (*command);
            }
            catch (const CLI::OptionNotFound&)
            {
                vfu::tool::failUsage ("Unknown command: " + vfu::tool::toJuce (*command));
            }
            std::cout << sub->help (top->get_name());
            return vfu::tool::exitSuccess;
        };
    },
});
} // namespace
