# Window diarization: short windows, average-linkage clustering and
# resegmentation, for the command-line program and the Python package. It
# computes features and x-vectors with the engine's own classes (linked
# statically), and names speakers through Pellam as the 4-second driver does.
if(NOT TARGET drumlin_diarization)
  return()
endif()
add_library(drumlin_windows STATIC
  ${CMAKE_CURRENT_LIST_DIR}/agglomerative-clustering.cc
  ${CMAKE_CURRENT_LIST_DIR}/viterbi-resegmentation.cc
  ${CMAKE_CURRENT_LIST_DIR}/window-models.cc
  ${CMAKE_CURRENT_LIST_DIR}/window-diarizer.cc)
target_include_directories(drumlin_windows PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(drumlin_windows PUBLIC drumlin_diarization drumlin_audec ravel_engine)

# bench/window_diarizer_bench.cc is built by bench/ against the engine; once
# every folder is read, add this library to it.
function(drumlin_windows_link_bench)
  if(TARGET window_diarizer_bench)
    target_link_libraries(window_diarizer_bench PRIVATE drumlin_windows)
    target_compile_definitions(window_diarizer_bench PRIVATE JOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL drumlin_windows_link_bench)
