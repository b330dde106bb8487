# qel_add_plugin(<model> <model library target>)
#
# Builds the plug-in <model>_msp.mexa64 into ${QEL_PLUGIN_DIR} from the block directory
# blocks/<model>_msp/, the frame and the model library, linked against the stand-in host's
# libraries the way a real plug-in links against its host's. Only the entry and the API version
# query are exported: everything is compiled with hidden visibility and a version script hides
# whatever the static libraries bring along.
#
# The block directory's sources also form the OBJECT library <model>_msp_objects, so that other
# builds (Octave) can link the same objects with another array library. The global property
# QEL_PLUGIN_MODELS lists every model, and QEL_PLUGIN_LIB_<model> names its model library.

set(QEL_PLUGIN_EXPORTS_MAP ${CMAKE_BINARY_DIR}/qel_plugin_exports.map)
file(WRITE ${QEL_PLUGIN_EXPORTS_MAP} "{\n  global: mexFunction; mexfilerequiredapiversion;\n  local: *;\n};\n")

function(qel_add_plugin model model_library)
  set(block_dir ${PROJECT_SOURCE_DIR}/blocks/${model}_msp)
  file(GLOB sources CONFIGURE_DEPENDS ${block_dir}/*.cpp)
  if(NOT sources)
    message(FATAL_ERROR "qel_add_plugin: no sources in ${block_dir}")
  endif()

  set(objects ${model}_msp_objects)
  add_library(${objects} OBJECT ${sources})
  target_link_libraries(${objects} PUBLIC qel_frame ${model_library})
  set_target_properties(${objects} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(QEL_FUZZ)
    target_compile_options(${objects} PRIVATE -fsanitize=fuzzer-no-link)
  endif()

  set(plugin ${model}_msp)
  add_library(${plugin} MODULE $<TARGET_OBJECTS:${objects}>)
  target_link_libraries(${plugin} PRIVATE qel_frame ${model_library} qel_host_mx qel_host_simtarget qel_host_mathutil)
  target_link_options(${plugin} PRIVATE LINKER:--version-script=${QEL_PLUGIN_EXPORTS_MAP})
  set_target_properties(${plugin} PROPERTIES
    PREFIX ""
    SUFFIX ".mexa64"
    LIBRARY_OUTPUT_DIRECTORY ${QEL_PLUGIN_DIR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${QEL_PLUGIN_EXPORTS_MAP})

  set_property(GLOBAL APPEND PROPERTY QEL_PLUGIN_MODELS ${model})
  set_property(GLOBAL PROPERTY QEL_PLUGIN_LIB_${model} ${model_library})
endfunction()
