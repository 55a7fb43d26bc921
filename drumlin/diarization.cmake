# Diarization: clustering, speaker database, the driver and the JNI entry
# point of Drumlin. Included from drumlin/CMakeLists.txt.
find_package(JNI QUIET)

set(DRUMLIN_DIARIZATION_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/speaker-clustering.cc
  ${CMAKE_CURRENT_LIST_DIR}/speaker-database.cc
  ${CMAKE_CURRENT_LIST_DIR}/diarization-driver.cc
  ${CMAKE_CURRENT_LIST_DIR}/utf8.cc)
if(JNI_FOUND)
  list(APPEND DRUMLIN_DIARIZATION_SOURCES ${CMAKE_CURRENT_LIST_DIR}/diarization-jni.cc)
else()
  message(STATUS "JNI not found: Drumlin is built without its Java entry point")
endif()

add_library(drumlin_diarization STATIC ${DRUMLIN_DIARIZATION_SOURCES})
target_include_directories(drumlin_diarization PUBLIC ${CMAKE_SOURCE_DIR})
if(JNI_FOUND)
  target_include_directories(drumlin_diarization PUBLIC ${JNI_INCLUDE_DIRS})
endif()
target_link_libraries(drumlin_diarization PUBLIC Pellam)
# The decoder (drumlin_audec) is not linked here: Drumlin links it whole to
# export Audec, and a second, plain link item would clash with that. Other
# users of this library link drumlin_audec themselves.

# Nothing inside Drumlin calls the JNI function: keep its object in the
# shared library anyway.
if(JNI_FOUND AND TARGET Drumlin)
  target_link_options(Drumlin PRIVATE
    "LINKER:--undefined=Java_com_jor_wrapper_SpeakerDiarizationWrapper_Diariztion")
endif()

# bench/diarization_driver_bench.cc is built by bench/ against the engine;
# once every folder is read, add the diarization libraries to it.
function(drumlin_diarization_link_bench)
  if(TARGET diarization_driver_bench)
    target_link_libraries(diarization_driver_bench PRIVATE drumlin_diarization drumlin_audec)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL drumlin_diarization_link_bench)
