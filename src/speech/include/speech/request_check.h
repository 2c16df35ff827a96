#pragma once

#include "speech/converter.h"
#include "speech/speech_error.h"

#include <string>

namespace kestrova::speech {

// What a refused request is: bad usage (it asks for something impossible or contradictory), or
// a failure (the files or the system refused it).
enum class RefusalKind { Usage, Failure };

// A request refused before anything is read or written; what() says which rule it breaks.
class RequestRefused : public SpeechError {
public:
    RequestRefused(RefusalKind kind, const std::string& message)
        : SpeechError(message), kind_(kind) {}

    RefusalKind kind() const noexcept { return kind_; }

private:
    RefusalKind kind_;
};

// The longest silence a request may ask for in one place (between sentences, paragraphs,
// before a chapter, at either end): a minute is already more than any reading needs.
inline constexpr int maximumPauseMs = 60000;

// How the input's kind of a request being checked was settled, which decides the rules of
// the kind and their words.
enum class InputKindSettled {
    Named,          // the asker named it (request.input.kind, or controls.ssml)
    FoundByContent, // the file's content and name chose it
    NotYet,         // its content will choose it: the rules of the kind wait for that
};

// Every rule a conversion request keeps that needs no file to settle: throws RequestRefused
// naming the first it breaks. The conversion and its plan check each request; a program
// checks its own before it reads anything, to say what is wrong first.
void checkRequest(const ConversionRequest& request,
                  InputKindSettled kind = InputKindSettled::Named);

} // namespace kestrova::speech
