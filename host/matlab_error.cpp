#include "host/matlab_error.h"

#include <cstdio>

namespace qelhost {

MatlabError::MatlabError(std::string identifier, std::vector<Argument> arguments)
    : identifier_(std::move(identifier)), arguments_(std::move(arguments)) {
    text_ = identifier_;
    text_ += '(';
    for (size_t i = 0; i < arguments_.size(); ++i) {
        if (i > 0) text_ += ", ";
        if (const auto* text = std::get_if<std::string>(&arguments_[i])) {
            text_ += '"';
            text_ += *text;
            text_ += '"';
        } else {
            char number[32];
            std::snprintf(number, sizeof number, "%.17g", std::get<double>(arguments_[i]));
            text_ += number;
        }
    }
    text_ += ')';
}

// Defined here so that the type information lives in the host library alone.
MatlabError::~MatlabError() = default;

const char* MatlabError::what() const noexcept { return text_.c_str(); }

}  // namespace qelhost
