#pragma once

#include "definitions/FirmwareUpdater.h"

#include <type_traits>
#include <utility>

// One dispatch over the instruction kinds of a state, without casts:
//
//     vfu::visit (instruction,
//                 [] (const State::ButtonInstruction& button) { ... },
//                 [] (const State::CheckInstruction& check) { ... });
//
// Each instruction goes to the handler that takes its kind; kinds no handler takes are passed over.
namespace vfu
{
namespace detail
{
template <typename... Handlers> struct Overloaded : Handlers...
{
    using Handlers::operator()...;
};

template <typename... Handlers> Overloaded (Handlers...) -> Overloaded<Handlers...>;

template <typename Handler> class HandlerVisitor final : public FirmwareUpdater::State::InstructionVisitor
{
public:
    explicit HandlerVisitor (Handler& handlerToCall) : handler (handlerToCall) {}

    void visit (const FirmwareUpdater::State::TextFieldInstruction& i) override { call (i); }
    void visit (const FirmwareUpdater::State::ButtonInstruction& i) override { call (i); }
    void visit (const FirmwareUpdater::State::PrintInstruction& i) override { call (i); }
    void visit (const FirmwareUpdater::State::SendSysExInstruction& i) override { call (i); }
    void visit (const FirmwareUpdater::State::WaitInstruction& i) override { call (i); }
    void visit (const FirmwareUpdater::State::GotoStateInstruction& i) override { call (i); }
    void visit (const FirmwareUpdater::State::CheckInstruction& i) override { call (i); }

private:
    template <typename Kind> void call (const Kind& instruction)
    {
        if constexpr (std::is_invocable_v<Handler&, const Kind&>)
            handler (instruction);
    }

    Handler& handler;
};
} // namespace detail

template <typename... Handlers>
void visit (const FirmwareUpdater::State::Instruction& instruction, Handlers&&... handlers)
{
    detail::Overloaded handler{ std::forward<Handlers> (handlers)... };
    detail::HandlerVisitor<decltype (handler)> visitor (handler);
    instruction.accept (visitor);
}

// Every instruction of the list in document order, the instructions inside each Check right after
// the Check itself.
template <typename... Handlers>
void visitAll (const FirmwareUpdater::State::InstructionList& instructions, Handlers&&... handlers)
{
    detail::Overloaded handler{ std::forward<Handlers> (handlers)... };
    detail::HandlerVisitor<decltype (handler)> visitor (handler);

    const auto walk = [&visitor] (const auto& list, const auto& self) -> void
    {
        for (const auto& instruction : list)
        {
            instruction->accept (visitor);
            vfu::visit (*instruction, [&self] (const FirmwareUpdater::State::CheckInstruction& check)
                        { self (check.instructions, self); });
        }
    };
    walk (instructions, walk);
}
} // namespace vfu
