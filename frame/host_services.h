// Services on the host's block structure that every plug-in carries: the port registrars and
// setters used during registration, the checked access to input signals, the refusing stubs, and
// the two ways of reporting an error to the host.
//
// Two error forms. Inside a MATLAB call (the sizes call, input access) raiseMatlabError builds a
// message object and raises it through the host's "error", which does not come back: control
// unwinds to whoever called the entry. Inside a run-time method the set*Diagnostic functions
// point the root's error status at an XML text and return; the host reads it after the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "frame/host_interface.h"

namespace qelframe {

inline constexpr char kUnexpectedFunctionCallFormat[] =
    "<diag_root><diag id=\"Simulink:SFunctions:SimStructUnexpectedFunctionCall\"><arguments>"
    "<arg type=\"string\">%s</arg></arguments></diag></diag_root>";
inline constexpr char kInvalidFlagDiagnostic[] =
    "<diag_root><diag id=\"Simulink:SFunctions:SimStructInvalidFlagInSimulinkC\"><arguments></arguments></diag>"
    "</diag_root>";
inline constexpr char kNoZeroCrossingsDiagnostic[] =
    "<diag_root><diag id=\"Simulink:SFunctions:SimStructNoMdlZeroCrossings\"><arguments></arguments></diag>"
    "</diag_root>";
inline constexpr char kNoTimeOfNextVarHitDiagnostic[] =
    "<diag_root><diag id=\"Simulink:SFunctions:SimStructNoMdlGetTimeOfNextVarHit\"><arguments></arguments></diag>"
    "</diag_root>";

// One argument of a MATLAB message: a text or a number.
struct MessageArgument {
    const char* text;   // null for a number
    double number;

    static MessageArgument ofText(const char* value) { return {value != nullptr ? value : "", 0.0}; }
    static MessageArgument ofNumber(double value) { return {nullptr, value}; }
};

// Raises the MATLAB error `identifier` with its arguments. The host's "error" does not return;
// should a host come back anyway, this returns and the caller must stop.
void raiseMatlabError(const char* identifier, std::initializer_list<MessageArgument> arguments);

// The root structure that holds the error status; the block itself when the host gave no root.
SimStruct* errorRootOf(SimStruct* block);
// A text without arguments, stored as the status directly.
void setFixedDiagnostic(SimStruct* block, const char* text);
// A formatted text, copied into the root's error buffer (cut to 1023 bytes).
void setFormattedDiagnostic(SimStruct* block, const char* format, ...) __attribute__((format(printf, 2, 3)));
void setUnexpectedMethodDiagnostic(SimStruct* block, const char* methodName);

// Port-count registrars of a block structure the plug-in makes itself (command-line sizes call).
int registerInputPortCount(SimStruct* block, int count);
int registerOutputPortCount(SimStruct* block, int count);
// One-dimensional port width through the host's dimension registrar; 1 when the host has none.
int setInputPortWidth(SimStruct* block, int port, int width);
int setOutputPortWidth(SimStruct* block, int port, int width);
// Raises a MATLAB error for a port that does not exist.
void setInputDirectFeedThrough(SimStruct* block, int port, uint8_t flag);
void notifyRegistrationByte(SimStruct* block, uint8_t value);   // dispatcher code 302

// The data of input `port`. Raises a MATLAB error for a port out of range or an input without
// data; returns null only if the host's "error" came back.
const double* checkedInputData(SimStruct* block, int port);

// The refusing stubs for methods the blocks do not have.
void mdlZeroCrossingsStub(SimStruct* block);
void mdlGetTimeOfNextVarHitStub(SimStruct* block);

inline bool hasDispatcher(const SimStruct* block) { return block->dispatcher != nullptr; }
// Calls the dispatcher when the host has one; 0 otherwise.
inline int dispatch(SimStruct* block, int code, int intArg, void* ptrArg) {
    return block->dispatcher != nullptr ? block->dispatcher(block, code, intArg, ptrArg) : 0;
}
// The block's work record mdlrefDW (work vector 0); null before the host allocated it.
inline void* workRecordOf(const SimStruct* block) { return block->dwork != nullptr ? block->dwork[0].array : nullptr; }
inline bool isSizesOnly(const SimStruct* block) { return block->mdlInfo != nullptr && block->mdlInfo->simMode == 1; }

}  // namespace qelframe
