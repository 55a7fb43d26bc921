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
