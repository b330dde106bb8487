## -*- texinfo -*-
## @deftypefn {} {@var{msg} =} message (@var{id}, @var{arg1}, @dots{})
## Build the message object that the qel plug-ins raise their errors with.
##
## A plug-in reports a failed command-line call by calling @code{message} with an identifier and
## its arguments (texts and numbers), then @code{error} with the result.  The result is a struct
## that @code{error} accepts as is: @code{identifier} becomes the identifier of the error and
## @code{message} its text.  The arguments are kept in @code{arguments} as given.
## @end deftypefn

function msg = message (id, varargin)
  if (nargin < 1 || ! ischar (id) || isempty (id))
    print_usage ();
  endif
  msg = struct ("identifier", id, "message", message_text (id, varargin),
                "arguments", {varargin});
endfunction

function text = message_text (id, args)
  ## A text per identifier the plug-ins raise; any other identifier still gets a readable text,
  ## and an empty text would make "error" do nothing.
  prefix = "Simulink:SFunctions:";
  key = id;
  if (strncmp (id, prefix, numel (prefix)))
    key = id(numel (prefix) + 1:end);
  endif
  a = cellfun (@argument_text, args, "UniformOutput", false);
  n = numel (a);
  switch (key)
    case "SimStructTooFewRHSArguments"
      if (n == 2)
        text = sprintf ("%s needs at least %s input arguments", a{:});
        return;
      endif
    case "SimStructTooManyLHSArguments"
      if (n == 1)
        text = sprintf ("%s returns at most one output", a{:});
        return;
      endif
    case "SimStructForthRHSArgIsNotInteger"
      if (n == 1)
        text = sprintf ("%s: the fourth input (the flag) must be a real integer scalar", a{:});
        return;
      endif
    case "SimStructInvalidFlagPassedToSfcn"
      if (n == 1)
        text = sprintf ("%s: only flag 0 (sizes) may be passed from the command line", a{:});
        return;
      endif
    case "SimStructSFunctionNameMismatch"
      if (n == 2)
        text = sprintf ("%s was handed the block structure of %s", a{:});
        return;
      endif
    case {"SimStructLevel2InvalidInputPortNumber", ...
          "SimStructLevel2InvalidInputPortNumberForDirectFeedThrough"}
      if (n == 4)
        text = sprintf ("%s, block %s: input port %s is out of range (highest port index %s)", a{:});
        return;
      endif
    case "SimStructLevel2InvalidAccessToReusableInputSignal"
      if (n == 3)
        text = sprintf ("%s, block %s: input port %s is reusable and cannot be read here", a{:});
        return;
      endif
    case "SimStructLevel2InvalidAccessToNonDirectFeedthroughInputSignal"
      if (n == 3)
        text = sprintf ("%s, block %s: input port %s has no direct feedthrough and cannot be read here", a{:});
        return;
      endif
  endswitch
  if (n == 0)
    text = id;
  else
    text = sprintf ("%s: %s", id, strjoin (a, ", "));
  endif
endfunction

function text = argument_text (arg)
  if (ischar (arg))
    text = arg;
  elseif (isnumeric (arg) && isscalar (arg) && isreal (arg) && arg == fix (arg))
    text = sprintf ("%d", arg);
  else
    text = disp (arg);
    text = strtrim (text);
  endif
endfunction

%!test
%! msg = message ("Simulink:SFunctions:SimStructTooFewRHSArguments", 'MEX level2 S-function "b_msp"', 4);
%! assert (msg.identifier, "Simulink:SFunctions:SimStructTooFewRHSArguments");
%! assert (msg.message, 'MEX level2 S-function "b_msp" needs at least 4 input arguments');
%! assert (msg.arguments, {'MEX level2 S-function "b_msp"', 4});

%!test
%! msg = message ("Simulink:SFunctions:SimStructLevel2InvalidInputPortNumber", "m", "m/b", 3, 1);
%! assert (msg.message, "m, block m/b: input port 3 is out of range (highest port index 1)");

%!test
%! ## An unknown identifier, or a known one with unexpected arguments, keeps all arguments.
%! assert (message ("A:b:c").message, "A:b:c");
%! assert (message ("A:b:c", "x", 2.5).message, "A:b:c: x, 2.5000");
%! assert (message ("Simulink:SFunctions:SimStructTooManyLHSArguments").message, ...
%!         "Simulink:SFunctions:SimStructTooManyLHSArguments");

%!test
%! ## What error makes of it: the identifier, the text verbatim (no format characters interpreted).
%! msg = message ("Simulink:SFunctions:SimStructInvalidFlagPassedToSfcn", "100% %d");
%! try
%!   error (msg);
%! catch err
%!   assert (err.identifier, "Simulink:SFunctions:SimStructInvalidFlagPassedToSfcn");
%!   assert (err.message, "100% %d: only flag 0 (sizes) may be passed from the command line");
%! end_try_catch

%!error <Invalid call> message ()
%!error <Invalid call> message (3)
