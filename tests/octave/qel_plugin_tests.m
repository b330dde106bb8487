## qel_plugin_tests (SECTION, MEX_DIR, QELSIM, WORK_DIR)
##
## Drives the Octave builds of the eight qel plug-ins from Octave, a MATLAB-language host that
## nobody here wrote, and exits Octave with status 0 when every check of SECTION passed, 1 when
## one failed.
##
##   "sizes"   the command-line sizes call of every plug-in, against the documented block values
##             and against what "qelsim sizes" prints for the plug-in built for the stand-in host
##   "errors"  the argument checks of the sizes call and the errors they raise
##   "bridge"  the bridge's other operations, through qel_bridge_probe.mex (in MEX_DIR)
##   "run"     the files of "qelsim run" (signals.mat, a saved state) loaded in Octave
##
## MEX_DIR holds the .mex files and message.m. QELSIM is the qelsim executable, or "" when the
## build has none (the comparison with it is then reported as skipped). WORK_DIR is a scratch
## folder of this test.

function qel_plugin_tests (section, mex_dir, qelsim, work_dir)
  addpath (mex_dir);
  failures = {};
  switch (section)
    case "sizes"
      failures = check_sizes (qelsim);
    case "errors"
      failures = check_errors ();
    case "bridge"
      failures = check_bridge ();
    case "run"
      failures = check_run (qelsim, work_dir);
    otherwise
      error ("qel_plugin_tests: unknown section '%s'", section);
  endswitch
  if (isempty (failures))
    printf ("%s: all checks passed\n", section);
    exit (0);
  endif
  printf ("%s: %d check(s) failed\n", section, numel (failures));
  printf ("  %s\n", failures{:});
  exit (1);
endfunction

## The blocks as documented: model name, continuous states, input ports, output ports, sample
## times. Written out here, not read from the build, so that a plug-in that is missing or
## registers the wrong shape fails.
function blocks = documented_blocks ()
  blocks = {
    "Qel_Lib_motor_dq_sub",                    4, 2, 5, 4
    "Qel_Lib_motor_sub",                       3, 2, 4, 4
    "Qel_Lib_wexa_position_controller_dq_sub", 0, 7, 1, 2
    "Qel_Lib_wexa_velocity_controller_dq_sub", 0, 5, 1, 3
    "Qel_Lib_wexa_position_controller_sub",    0, 6, 1, 3
    "Qel_Lib_wexa_velocity_controller_sub",    0, 4, 1, 3
    "Qel_Lib_wexa_current_controller_dq_sub",  0, 4, 1, 2
    "Qel_Lib_wexa_current_controller_sub",     0, 2, 1, 3
  };
endfunction

function failures = check_sizes (qelsim)
  failures = {};
  blocks = documented_blocks ();
  ## Options word 0x68000822 with bit 0x2000 set by the entry.
  options = 1744840738;
  skipped_qelsim = isempty (qelsim);
  for b = 1:rows (blocks)
    [model, cont_states, num_inputs, num_outputs, num_sample_times] = blocks{b, :};
    plugin = [model "_msp"];
    if (exist (plugin, "file") != 3)
      failures{end+1} = sprintf ("%s: no .mex on the path", plugin);
      continue;
    endif
    try
      sizes = feval (plugin, [], [], [], 0);
    catch err
      failures{end+1} = sprintf ("%s: sizes call raised %s: %s", plugin, err.identifier, err.message);
      continue;
    end_try_catch
    if (! (isa (sizes, "double") && isreal (sizes) && isequal (size (sizes), [40 1])))
      failures{end+1} = sprintf ("%s: sizes is a %s %s, expected a real double 40x1", plugin,
                                 class (sizes), mat2str (size (sizes)));
      continue;
    endif
    ## {element (counted from 0), name, expected}
    expected = {
      0,  "continuous states",     cont_states
      1,  "discrete states",       0
      2,  "output ports",          num_outputs
      3,  "input ports",           num_inputs
      6,  "sample times",          num_sample_times
      7,  "S-function parameters", 0
      8,  "integer work",          0
      9,  "real work",             0
      10, "pointer work",          0
      15, "checksum word 0",       0
      16, "checksum word 1",       0
      17, "checksum word 2",       0
      18, "checksum word 3",       0
      19, "version",               8480229
      22, "modes",                 0
      23, "options",               options
      30, "element 30",            2
    };
    for e = 1:rows (expected)
      [index, name, value] = expected{e, :};
      if (sizes(index + 1) != value)
        failures{end+1} = sprintf ("%s: element %d (%s) is %.17g, expected %.17g", plugin, index,
                                   name, sizes(index + 1), value);
      endif
    endfor
    if (! skipped_qelsim)
      failures = [failures, compare_with_qelsim(qelsim, model, sizes)];
    endif
    if (b == rows (blocks))
      printf ("%s([], [], [], 0)' =\n", plugin);
      printf (" %d", sizes);
      printf ("\n");
    endif
  endfor
  if (skipped_qelsim)
    printf ("sizes: not compared with qelsim sizes: the build has no qelsim\n");
  endif
endfunction

function failures = compare_with_qelsim (qelsim, model, sizes)
  failures = {};
  [status, out] = system (sprintf ('"%s" sizes %s', qelsim, model));
  if (status != 0)
    failures{end+1} = sprintf ("qelsim sizes %s exited with %d: %s", model, status, strtrim (out));
    return;
  endif
  reference = sscanf (out, "%f");
  if (numel (reference) != 40)
    failures{end+1} = sprintf ("qelsim sizes %s printed %d numbers, expected 40", model,
                               numel (reference));
    return;
  endif
  differ = find (reference != sizes);
  for k = differ(:)'
    failures{end+1} = sprintf ("%s_msp: element %d is %.17g in Octave, %.17g from qelsim sizes",
                               model, k - 1, sizes(k), reference(k));
  endfor
endfunction

function failures = check_errors ()
  failures = {};
  few = "Simulink:SFunctions:SimStructTooFewRHSArguments";
  many = "Simulink:SFunctions:SimStructTooManyLHSArguments";
  not_integer = "Simulink:SFunctions:SimStructForthRHSArgIsNotInteger";
  bad_flag = "Simulink:SFunctions:SimStructInvalidFlagPassedToSfcn";
  ## {case, outputs asked for, inputs, identifier}; the checks run in a fixed order, so a call
  ## that breaks two of them raises the first.
  cases = {
    "no inputs",                  1, {},                         few
    "three inputs",               1, {[], [], []},               few
    "three inputs, two outputs",  2, {[], [], []},               few
    "two outputs",                2, {[], [], [], 0},            many
    "two outputs, flag 0.5",      2, {[], [], [], 0.5},          many
    "flag 0.5",                   1, {[], [], [], 0.5},          not_integer
    "flag 1x2",                   1, {[], [], [], [0 0]},        not_integer
    "flag empty",                 1, {[], [], [], []},           not_integer
    "flag complex 0",             1, {[], [], [], complex(0, 0)}, not_integer
    "flag NaN",                   1, {[], [], [], NaN},          not_integer
    "flag Inf",                   1, {[], [], [], Inf},          not_integer
    "flag 2^31",                  1, {[], [], [], 2^31},         not_integer
    "flag -2^31 - 1",             1, {[], [], [], -2^31 - 1},    not_integer
    "flag text",                  1, {[], [], [], "0"},          not_integer
    "flag logical",               1, {[], [], [], false},        not_integer
    "flag 3",                     1, {[], [], [], 3},            bad_flag
    "flag 3, no output",          0, {[], [], [], 3},            bad_flag
    "flag -1",                    1, {[], [], [], -1},           bad_flag
    "flag 101 (a run-time flag)", 1, {[], [], [], 101},          bad_flag
  };
  ## Calls the sizes call accepts, each answering with the same column. An input 1 that is not a
  ## real double 3-row column ending in the host's marker is no host call: taking one for a host
  ## call would read a block structure address out of it and crash Octave.
  accepted = {
    "flag -0",                         {[], [], [], -0}
    "flag int8 0",                     {[], [], [], int8(0)}
    "flag single 0",                   {[], [], [], single(0)}
    "extra inputs",                    {[], [], [], 0, 1, "x"}
    "3-row input 1 without marker",    {[1; 2; 3], [], [], 0}
    "single input 1 with marker",      {single([0; 0; 8480229]), [], [], 0}
    "complex input 1 with marker",     {complex([0; 0; 8480229], [1; 0; 0]), [], [], 0}
    "int32 input 1 with marker",       {int32([0; 0; 8480229]), [], [], 0}
    "marker naming address 0",         {[0; 0; 8480229], [], [], 0}
  };
  blocks = documented_blocks ();
  for b = 1:rows (blocks)
    plugin = [blocks{b, 1} "_msp"];
    if (exist (plugin, "file") != 3)
      failures{end+1} = sprintf ("%s: no .mex on the path", plugin);
      continue;
    endif
    argument_text = sprintf ('MEX level2 S-function "%s"', plugin);
    try
      reference = feval (plugin, [], [], [], 0);
    catch err
      failures{end+1} = sprintf ("%s: sizes call raised %s: %s", plugin, err.identifier, err.message);
      continue;
    end_try_catch
    for c = 1:rows (cases)
      [name, nout, args, id] = cases{c, :};
      if (strcmp (id, few))
        expected_message = message (id, argument_text, 4).message;
      else
        expected_message = message (id, argument_text).message;
      endif
      raised = false;
      try
        switch (nout)
          case 0
            feval (plugin, args{:});
          case 1
            out1 = feval (plugin, args{:});
          case 2
            [out1, out2] = feval (plugin, args{:});
        endswitch
      catch err
        raised = true;
        if (! strcmp (err.identifier, id))
          failures{end+1} = sprintf ("%s, %s: raised '%s' (%s), expected '%s'", plugin, name,
                                     err.identifier, err.message, id);
        elseif (! strcmp (err.message, expected_message))
          failures{end+1} = sprintf ("%s, %s: message '%s', expected '%s'", plugin, name,
                                     err.message, expected_message);
        endif
      end_try_catch
      if (! raised)
        failures{end+1} = sprintf ("%s, %s: returned without error, expected '%s'", plugin, name, id);
      endif
    endfor
    for c = 1:rows (accepted)
      [name, args] = accepted{c, :};
      try
        sizes = feval (plugin, args{:});
        if (! isequal (sizes, reference))
          failures{end+1} = sprintf ("%s, %s: sizes differ from those of flag 0", plugin, name);
        endif
      catch err
        failures{end+1} = sprintf ("%s, %s: raised '%s' (%s)", plugin, name, err.identifier,
                                   err.message);
      end_try_catch
    endfor
    ## A refused call leaves nothing behind that a later call could trip over.
    if (! isequal (feval (plugin, [], [], [], 0), reference))
      failures{end+1} = sprintf ("%s: sizes after the refused calls differ from before", plugin);
    endif
  endfor
endfunction

## qel_bridge_probe calls the bridge through the plug-ins' own declarations, so every number
## below is the plug-ins' numbering, not Octave's.
function failures = check_bridge ()
  failures = {};
  probe = @qel_bridge_probe;

  ## {value, class number the plug-ins see}
  classes = {
    {},            1
    struct(),     2
    true,          3
    "a",           4
    1,             6
    single(1),    7
    int8(1),      8
    uint8(1),     9
    int16(1),     10
    uint16(1),    11
    int32(1),     12
    uint32(1),    13
    int64(1),     14
    uint64(1),    15
    @sin,          16
  };
  for c = 1:rows (classes)
    [value, expected] = classes{c, :};
    got = probe (1, value);
    if (got != expected)
      failures{end+1} = sprintf ("class of a %s: %d, expected %d", class (value), got, expected);
    endif
  endfor

  ## {rows, columns, class number, complexity, uninitialised, Octave class}
  numerics = {
    1, 5, 9,  0, 0, "uint8"
    1, 3, 9,  0, 1, "uint8"
    2, 3, 6,  1, 0, "double"
    1, 2, 13, 0, 0, "uint32"
    1, 0, 9,  0, 1, "uint8"
  };
  for c = 1:rows (numerics)
    [r, n, class_number, complexity, uninit, expected_class] = numerics{c, :};
    [made, was_complex] = probe (2, r, n, class_number, complexity, uninit);
    what = sprintf ("numeric %dx%d of class %d, complexity %d", r, n, class_number, complexity);
    if (! strcmp (class (made), expected_class) || ! isequal (size (made), [r n])
        || was_complex != (complexity == 1))
      failures{end+1} = sprintf ("%s: got a %s%s %s", what, ifelse_text (was_complex, "complex "),
                                 class (made), mat2str (size (made)));
    elseif (! uninit && any (made(:) != 0))
      failures{end+1} = sprintf ("%s: not zeroed", what);
    endif
  endfor

  ## A struct shaped like a plug-in's simulation state, made field by field by number.
  state = probe (3);
  field_failures = [check_fields(state, {"localX", "mdlrefDW", "disallowedStateData", "tNext", ...
                                         "tNextTid", "nonContDerivSigInfoPrevVal"}, "state"), ...
                    check_fields(state.mdlrefDW, {"rtb", "rtdw", "NULL->rtzce"}, "mdlrefDW"), ...
                    check_fields(state.mdlrefDW.rtdw, {"mdlrefDW->rtdw.a1b2c3d4e5x_qelm", ...
                                                       "mdlrefDW->rtdw.f6g7h8i9j0y_qelm"}, "rtdw")];
  failures = [failures, field_failures];
  if (isempty (field_failures))
    members = struct2cell (state.mdlrefDW.rtdw);
    local_x = state.localX;
    checks = {
      "localX bytes",  isa(local_x, "uint8") && isequal(size(local_x), [1 24])
      "localX values", isequal(typecast(local_x, "double"), [1.5 0 3e-300]) ...
                       && signbit(typecast(local_x(9:16), "double"))
      "rtb",           isequal(state.mdlrefDW.rtb, uint8([1 2 3 4 255]))
      "rtdw member 0", isequal(typecast(members{1}, "double"), -2.5)
      "rtdw member 1", isequal(members{2}, uint8(1))
      "tNext",         isequal(state.tNext, 0.25)
      "tNextTid",      isequal(state.tNextTid, 2)
      "empty fields",  isempty(state.disallowedStateData) && isempty(state.nonContDerivSigInfoPrevVal) ...
                       && isempty(state.mdlrefDW.("NULL->rtzce"))
    };
    for c = 1:rows (checks)
      if (! checks{c, 2})
        failures{end+1} = sprintf ("simulation-state struct: %s wrong", checks{c, 1});
      endif
    endfor
    ## Read back by field number, after Octave changed two of the values.
    state.tNext = 7;
    state.localX = typecast ([-4 NaN Inf], "uint8");
    got = probe (4, state);
    expected = [6 3 2 -4 NaN Inf 7 2];
    if (! isequaln (got, expected))
      failures{end+1} = sprintf ("simulation-state read back as %s, expected %s", mat2str (got),
                                 mat2str (expected));
    endif
  endif

  ## {value, [rows, columns, complex, numeric, first real value]}
  described = {
    [],             [0 0 0 1 -1]
    [1 2; 3 4],     [2 2 0 1 1]
    complex(5, 1),  [1 1 1 1 5]
    zeros(3, 0),   [3 0 0 1 -1]
    false,          [1 1 0 0 -1]
  };
  for c = 1:rows (described)
    [value, expected] = described{c, :};
    got = probe (5, value);
    if (! isequal (got, expected))
      failures{end+1} = sprintf ("%s seen as %s, expected %s", mat2str (value), mat2str (got),
                                 mat2str (expected));
    endif
  endfor

  if (probe (7) != 1)
    failures{end+1} = "a double matrix made complex is not complex";
  endif

  got = probe (6);
  if (! isequal (got, [Inf 0]))
    failures{end+1} = sprintf ("[infinity, non-zero bytes of calloc] = %s, expected [Inf 0]", mat2str (got));
  endif
endfunction

function failures = check_fields (s, names, where)
  failures = {};
  got = fieldnames (s)';
  if (! isequal (got, names))
    failures{end+1} = sprintf ("%s has the fields {%s}, expected {%s}", where, strjoin (got, ", "),
                               strjoin (names, ", "));
  endif
endfunction

function text = ifelse_text (condition, text)
  if (! condition)
    text = "";
  endif
endfunction

## The built-in scenario (the dq position loop: a 90 degree reference step at 0.02 s, a load step
## at 0.3 s) run past its reference step, with the state saved at the stop time.
function failures = check_run (qelsim, work_dir)
  failures = {};
  stop_time = 0.03;
  out_dir = fullfile (work_dir, "run");
  state_file = fullfile (work_dir, "state.mat");
  ## Nothing of an earlier run may pass for this one's.
  if (exist (out_dir, "dir"))
    confirm_recursive_rmdir (false, "local");
    rmdir (out_dir, "s");
  endif
  if (exist (state_file, "file"))
    delete (state_file);
  endif
  if (! exist (work_dir, "dir"))
    mkdir (work_dir);
  endif
  command = sprintf ('"%s" run --out "%s" --stop-time %.17g --save-state "%s" --quiet', qelsim,
                     out_dir, stop_time, state_file);
  [status, out] = system (command);
  if (status != 0)
    failures{end+1} = sprintf ("%s exited with %d: %s", command, status, strtrim (out));
    return;
  endif
  failures = [failures, check_signals_file(out_dir, stop_time)];
  failures = [failures, check_state_file(state_file, stop_time)];
endfunction

function failures = check_signals_file (out_dir, stop_time)
  failures = {};
  mat_file = fullfile (out_dir, "signals.mat");
  try
    variables = whos ("-file", mat_file);
    loaded = load (mat_file);
  catch err
    failures{end+1} = sprintf ("%s does not load: %s", mat_file, err.message);
    return;
  end_try_catch
  names = sort ({variables.name});
  if (! isequal (names, {"signals", "time"}))
    failures{end+1} = sprintf ("%s holds {%s}, expected {signals, time}", mat_file, strjoin (names, ", "));
    return;
  endif
  time = loaded.time;
  if (! (isa (time, "double") && iscolumn (time) && numel (time) > 1 && all (diff (time) > 0)))
    failures{end+1} = sprintf ("%s: time is not an increasing double column", mat_file);
    return;
  endif
  if (time(1) != 0 || abs (time(end) - stop_time) > 1e-9)
    failures{end+1} = sprintf ("%s: time runs from %.17g to %.17g, expected 0 to %.17g", mat_file,
                               time(1), time(end), stop_time);
  endif

  ## signals.csv holds the same values as text that reads back exactly: every column must be
  ## the matching MAT column bit for bit (the sign of zero included, NaN equal to NaN).
  [header, csv] = read_signals_csv (fullfile (out_dir, "signals.csv"));
  if (rows (csv) != numel (time))
    failures{end+1} = sprintf ("signals.csv has %d rows, signals.mat %d", rows (csv), numel (time));
    return;
  endif
  for c = 1:numel (header)
    column = header{c};
    if (c == 1)
      mat_values = time;
    else
      parts = regexp (column, '^([^.]+)\.([^\[]+)(?:\[(\d+)\])?$', "tokens", "once");
      if (isempty (parts) || ! isfield (loaded.signals, parts{1})
          || ! isfield (loaded.signals.(parts{1}), parts{2}))
        failures{end+1} = sprintf ("signals.csv column '%s' has no counterpart in signals.mat", column);
        continue;
      endif
      element = 1;
      if (numel (parts) > 2 && ! isempty (parts{3}))
        element = str2double (parts{3}) + 1;
      endif
      port = loaded.signals.(parts{1}).(parts{2});
      if (rows (port) != numel (time) || columns (port) < element)
        failures{end+1} = sprintf ("signals.mat: %s.%s is %s", parts{1}, parts{2}, mat2str (size (port)));
        continue;
      endif
      mat_values = port(:, element);
    endif
    differ = find (! (mat_values == csv(:, c) & signbit (mat_values) == signbit (csv(:, c)))
                   & ! (isnan (mat_values) & isnan (csv(:, c))), 1);
    if (! isempty (differ))
      failures{end+1} = sprintf ("%s, row %d: %.17g in signals.mat, %.17g in signals.csv", column,
                                 differ, mat_values(differ), csv(differ, c));
    endif
  endfor

  ## Values the scenario fixes: the reference steps from 0 to 90 at 0.02 s, no load before 0.3 s.
  if (isfield (loaded.signals, "positionReference") && isfield (loaded.signals, "loadTorque"))
    reference = loaded.signals.positionReference.out;
    before = time < 0.02 - 1e-9;
    after = time > 0.02 + 1e-9;
    if (any (reference(before) != 0) || any (reference(after) != 90) || ! any (after))
      failures{end+1} = "signals.mat: positionReference.out is not 0 before 0.02 s and 90 after";
    endif
    if (any (loaded.signals.loadTorque.out != 0))
      failures{end+1} = "signals.mat: loadTorque.out is not 0 before 0.3 s";
    endif
  else
    failures{end+1} = "signals.mat: no positionReference or loadTorque among the signals";
  endif
endfunction

function [header, values] = read_signals_csv (file)
  lines = strsplit (strtrim (fileread (file)), "\n");
  header = strsplit (lines{1}, ",");
  values = zeros (numel (lines) - 1, numel (header));
  for r = 2:numel (lines)
    values(r - 1, :) = str2double (strsplit (lines{r}, ","));
  endfor
endfunction

## The saved state as documented per model: continuous-state bytes, rtb bytes, rtdw member bytes.
function layout = state_layouts ()
  layout = struct (
    "Qel_Lib_motor_dq_sub",                    {{32, 88, repmat(8, 1, 13)}},
    "Qel_Lib_motor_sub",                       {{24, 80, repmat(8, 1, 11)}},
    "Qel_Lib_wexa_position_controller_dq_sub", {{0, 72, [8 8 8 1 1]}},
    "Qel_Lib_wexa_velocity_controller_dq_sub", {{0, 72, [8 8 8 1 1]}},
    "Qel_Lib_wexa_position_controller_sub",    {{0, 56, [8 8 1 1]}},
    "Qel_Lib_wexa_velocity_controller_sub",    {{0, 56, [8 8 1 1]}},
    "Qel_Lib_wexa_current_controller_dq_sub",  {{0, 56, [8 8]}},
    "Qel_Lib_wexa_current_controller_sub",     {{0, 40, 8}});
endfunction

function failures = check_state_file (state_file, stop_time)
  failures = {};
  try
    variables = whos ("-file", state_file);
    loaded = load (state_file);
  catch err
    failures{end+1} = sprintf ("%s does not load: %s", state_file, err.message);
    return;
  end_try_catch
  if (! isequal ({variables.name}, {"qelState"}))
    failures{end+1} = sprintf ("%s holds {%s}, expected {qelState}", state_file,
                               strjoin ({variables.name}, ", "));
    return;
  endif
  q = loaded.qelState;
  expected_fields = {"format", "scenario", "step", "stepSize", "time", "signals", "blockNames", ...
                     "blockModels", "blockStates"};
  missing = setdiff (expected_fields, fieldnames (q));
  if (! isempty (missing))
    failures{end+1} = sprintf ("qelState lacks {%s}", strjoin (missing, ", "));
    return;
  endif
  if (! strcmp (q.format, "qelsim state 1") || ! strcmp (q.scenario, "dq_position_loop"))
    failures{end+1} = sprintf ("qelState: format '%s', scenario '%s'", q.format, q.scenario);
  endif
  if (q.stepSize != 1e-5 || q.time != q.step * q.stepSize || abs (q.time - stop_time) > q.stepSize / 2)
    failures{end+1} = sprintf ("qelState: step %.17g of %.17g s at %.17g s, expected the stop time %.17g s",
                               q.step, q.stepSize, q.time, stop_time);
  endif
  if (! (iscell (q.blockNames) && iscell (q.blockModels) && iscell (q.blockStates)
         && numel (q.blockNames) == numel (q.blockModels)
         && numel (q.blockNames) == numel (q.blockStates)))
    failures{end+1} = "qelState: blockNames, blockModels and blockStates are not cells of one length";
    return;
  endif
  layouts = state_layouts ();
  plugin_blocks = 0;
  for b = 1:numel (q.blockNames)
    model = q.blockModels{b};
    if (! isfield (layouts, model))
      continue;
    endif
    plugin_blocks += 1;
    where = sprintf ("qelState block '%s' (%s)", q.blockNames{b}, model);
    failures = [failures, check_block_state(q.blockStates{b}, layouts.(model), where)];
  endfor
  if (! ismember ("Qel_Lib_motor_dq_sub", q.blockModels)
      || ! ismember ("Qel_Lib_wexa_position_controller_dq_sub", q.blockModels))
    failures{end+1} = sprintf ("qelState: models {%s}, expected the dq motor and the dq position controller",
                               strjoin (q.blockModels, ", "));
  endif
endfunction

## A struct of the state file is {fieldNames, fieldValues}; an absent field is an empty cell.
function [value, failures] = state_field (node, name, where)
  value = [];
  failures = {};
  if (! (isstruct (node) && isfield (node, "fieldNames") && isfield (node, "fieldValues")))
    failures{end+1} = sprintf ("%s is not a saved struct", where);
    return;
  endif
  index = find (strcmp (node.fieldNames, name));
  if (isempty (index))
    failures{end+1} = sprintf ("%s has no field '%s'", where, name);
    return;
  endif
  value = node.fieldValues{index};
endfunction

function failures = check_block_state (state, layout, where)
  failures = {};
  [local_x_bytes, rtb_bytes, member_bytes] = layout{:};
  expected = {"localX", "mdlrefDW", "disallowedStateData", "tNext", "tNextTid", ...
              "nonContDerivSigInfoPrevVal"};
  if (! isstruct (state) || ! isfield (state, "fieldNames") || ! isequal (state.fieldNames(:)', expected))
    failures{end+1} = sprintf ("%s: fields are not {%s}", where, strjoin (expected, ", "));
    return;
  endif
  values = state.fieldValues;
  if (! is_byte_row (values{1}, local_x_bytes))
    failures{end+1} = sprintf ("%s: localX is not %d bytes", where, local_x_bytes);
  elseif (local_x_bytes > 0 && ! all (isfinite (typecast (values{1}, "double"))))
    failures{end+1} = sprintf ("%s: continuous states not finite", where);
  endif
  for k = [3 6]
    if (! isempty (values{k}))
      failures{end+1} = sprintf ("%s: %s is not empty", where, expected{k});
    endif
  endfor
  tid = values{5};
  if (! (isa (values{4}, "double") && isscalar (values{4}) && isa (tid, "double") && isscalar (tid)
         && tid == fix (tid)))
    failures{end+1} = sprintf ("%s: tNext and tNextTid are not double scalars, the task id whole", where);
  endif
  dwork = values{2};
  [rtb, f1] = state_field (dwork, "rtb", [where ".mdlrefDW"]);
  [rtdw, f2] = state_field (dwork, "rtdw", [where ".mdlrefDW"]);
  [rtzce, f3] = state_field (dwork, "NULL->rtzce", [where ".mdlrefDW"]);
  failures = [failures, f1, f2, f3];
  if (! isempty ([f1, f2, f3]))
    return;
  endif
  if (! isequal (dwork.fieldNames(:)', {"rtb", "rtdw", "NULL->rtzce"}))
    failures{end+1} = sprintf ("%s.mdlrefDW: fields out of order", where);
  endif
  if (! is_byte_row (rtb, rtb_bytes))
    failures{end+1} = sprintf ("%s: rtb is not %d bytes", where, rtb_bytes);
  endif
  if (! isempty (rtzce))
    failures{end+1} = sprintf ("%s: NULL->rtzce is not empty", where);
  endif
  if (! isstruct (rtdw) || numel (rtdw.fieldValues) != numel (member_bytes))
    failures{end+1} = sprintf ("%s: rtdw does not have %d members", where, numel (member_bytes));
    return;
  endif
  prefix = "mdlrefDW->rtdw.";
  if (! all (strncmp (rtdw.fieldNames, prefix, numel (prefix)))
      || numel (unique (rtdw.fieldNames)) != numel (rtdw.fieldNames))
    failures{end+1} = sprintf ("%s: rtdw member names are not distinct '%s...' names", where, prefix);
  endif
  for m = 1:numel (member_bytes)
    member = rtdw.fieldValues{m};
    if (! is_byte_row (member, member_bytes(m)))
      failures{end+1} = sprintf ("%s: rtdw member %d is not %d bytes", where, m - 1, member_bytes(m));
    elseif (member_bytes(m) == 1 && member > 1)
      failures{end+1} = sprintf ("%s: boolean rtdw member %d holds %d", where, m - 1, member);
    endif
  endfor
endfunction

function ok = is_byte_row (value, count)
  if (count == 0)
    ok = isempty (value);
  else
    ok = isa (value, "uint8") && isequal (size (value), [1 count]);
  endif
endfunction
