#pragma once

#include <filesystem>
#include <string>

namespace kestrova::speech {

// The file of one chapter when a conversion writes a file per chapter: NAME-NN-Title.EXT
// beside the output NAME.EXT. NN is the number with at least two digits, as many as
// highestNumber has, so that the files sort in reading order. The title keeps its letters,
// marks and digits in any script; an apostrophe inside a word goes, and every run of other
// characters (spaces, punctuation, '/', controls) becomes one '_', none at either end: no
// name that hides itself (a leading '.'), reads as an option (a leading '-') or is refused
// on other systems. It is cut at a character boundary to 80 bytes, and shorter when the
// whole name would pass 255 bytes. A title with nothing left gives NAME-NN.EXT. title is
// UTF-8, as the text is read.
std::filesystem::path chapterFilePath(const std::filesystem::path& output, unsigned number,
                                      const std::string& title, unsigned highestNumber = 0);

} // namespace kestrova::speech
