// The MATLAB calls a plug-in makes: "message" builds a message object, "error" raises one as a
// MatlabError that unwinds through the plug-in to whoever called its entry.
#include <string>
#include <vector>

#include "host/mx_arrays.h"

#define QEL_HOST_EXPORT __attribute__((visibility("default")))

namespace qelhost {
mxArray* createMessage(std::string identifier, std::vector<MatlabError::Argument> arguments);
}

using qelhost::MatlabError;

namespace {

MatlabError::Argument argumentOf(const mxArray* input, int position) {
    if (qelhost::isString(input)) return qelhost::stringOf(input);
    if (mxIsNumeric_800(input) && !mxIsComplex_800(input) && qelhost::numberOfElements(input) == 1)
        return mxGetScalar_800(input);
    throw MatlabError("qelhost:message:UnsupportedArgument", {static_cast<double>(position + 1)});
}

void buildMessage(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]) {
    if (nrhs < 1 || prhs == nullptr || !qelhost::isString(prhs[0]))
        throw MatlabError("qelhost:message:IdentifierMissing", {});
    if (nlhs > 1) throw MatlabError("qelhost:message:TooManyOutputs", {static_cast<double>(nlhs)});
    std::vector<MatlabError::Argument> arguments;
    for (int i = 1; i < nrhs; ++i) arguments.push_back(argumentOf(prhs[i], i));
    mxArray* message = qelhost::createMessage(qelhost::stringOf(prhs[0]), std::move(arguments));
    // With no output asked for, the object stays in the caller's scope and goes with it.
    if (nlhs == 1 && plhs != nullptr) plhs[0] = message;
}

[[noreturn]] void raiseError(int nrhs, mxArray* prhs[]) {
    if (nrhs < 1 || prhs == nullptr) throw MatlabError("qelhost:error:NothingToRaise", {});
    if (qelhost::isMessage(prhs[0])) {
        throw MatlabError(qelhost::messageIdentifier(prhs[0]), qelhost::messageArguments(prhs[0]));
    }
    if (qelhost::isString(prhs[0])) {
        // error(text, ...): no identifier, the text and its arguments as they were given.
        std::vector<MatlabError::Argument> arguments{qelhost::stringOf(prhs[0])};
        for (int i = 1; i < nrhs; ++i) arguments.push_back(argumentOf(prhs[i], i));
        throw MatlabError("", std::move(arguments));
    }
    throw MatlabError("qelhost:error:UnsupportedArgument", {1.0});
}

}  // namespace

extern "C" {

QEL_HOST_EXPORT int mexCallMATLAB_800(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name) {
    const std::string function = name != nullptr ? name : "";
    if (function == "message") {
        buildMessage(nlhs, plhs, nrhs, prhs);
        return 0;
    }
    if (function == "error") raiseError(nrhs, prhs);
    throw MatlabError("qelhost:UndefinedFunction", {function});
}

}  // extern "C"
