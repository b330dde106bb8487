// The error a plug-in raises through the host's "error" call. It unwinds through the plug-in back
// to whoever called the plug-in's entry, carrying the message's identifier and arguments.
#pragma once

#include <exception>
#include <string>
#include <variant>
#include <vector>

namespace qelhost {

// Exported with default visibility: the plug-ins throw it from the host library and the tools
// catch it, so every module must agree on one type.
class __attribute__((visibility("default"))) MatlabError : public std::exception {
public:
    using Argument = std::variant<std::string, double>;   // a text, or a number

    MatlabError(std::string identifier, std::vector<Argument> arguments);
    ~MatlabError() override;

    const std::string& identifier() const { return identifier_; }
    const std::vector<Argument>& arguments() const { return arguments_; }
    // The identifier followed by the arguments, e.g. `Id:Name("text", 4)`.
    const char* what() const noexcept override;

private:
    std::string identifier_;
    std::vector<Argument> arguments_;
    std::string text_;
};

}  // namespace qelhost
