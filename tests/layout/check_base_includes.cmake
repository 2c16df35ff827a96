# The base layer (src/speech/base/: descriptors, child processes, iconv) sits beneath every
# other layer of the library: its files include the vocabulary headers of speech/ at most,
# never text/, audio/, engines/ or render/.
file(GLOB base_files ${SPEECH_SOURCE}/base/*.h ${SPEECH_SOURCE}/base/*.cpp)
foreach(path ${base_files})
    file(STRINGS ${path} includes REGEX "^#include \"speech/(text|audio|engines|render)/")
    if(includes)
        message(FATAL_ERROR "${path} includes a layer above the base layer: ${includes}")
    endif()
endforeach()
list(LENGTH base_files count)
message(STATUS "base: ${count} files include no layer above them")
