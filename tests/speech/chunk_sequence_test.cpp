#include "speech/render/chunk_sequence.h"

#include <gtest/gtest.h>
#include <variant>

namespace kestrova::speech {
namespace {

// What the sequence is given: a chunk of text, a boundary, a break or a mark.
struct Chunk {
    std::string text;
    Boundary before = Boundary::None;
};
struct Break {
    int milliseconds;
};
struct Mark {
    std::string name;
};
using Step = std::variant<Chunk, Boundary, Break, Mark>;

// How a task meets its neighbours: "text|<trim leading>|<trim trailing>|<silence ms>|marks".
std::string describe(const RenderTask& task) {
    std::string marks;
    for (const std::string& mark : task.marks)
        marks += mark + ",";
    return task.text + "|" + (task.trimLeading ? "<" : "") + "|" + (task.trimTrailing ? ">" : "") +
           "|" + std::to_string(task.trailingSilenceMs) + "|" + marks;
}

struct SequenceCase {
    std::string name;
    PauseSettings pauses;
    std::vector<Step> steps;
    std::vector<std::string> tasks;
};

class Sequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(Sequence, DecidesHowChunksMeet) {
    std::vector<std::string> tasks;
    ChunkSequence sequence(GetParam().pauses, Voice{},
                           [&](RenderTask task) { tasks.push_back(describe(task)); });
    for (const Step& step : GetParam().steps) {
        if (const auto* chunk = std::get_if<Chunk>(&step)) {
            RenderTask task;
            task.text = chunk->text;
            sequence.addChunk(std::move(task), chunk->before);
        } else if (const auto* boundary = std::get_if<Boundary>(&step)) {
            sequence.addBoundary(*boundary);
        } else if (const auto* pause = std::get_if<Break>(&step)) {
            sequence.addBreak(pause->milliseconds);
        } else {
            sequence.addMark(std::get<Mark>(step).name);
        }
    }
    sequence.finish();
    EXPECT_EQ(tasks, GetParam().tasks);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Sequence,
    ::testing::Values(
        SequenceCase{"NoPausesSet",
                     {},
                     {Chunk{"a"}, Chunk{"b", Boundary::Sentence}, Chunk{"c", Boundary::Paragraph}},
                     {"a|||0|", "b|||0|", "c|||0|"}},
        SequenceCase{"ParagraphPauseOnly",
                     {std::nullopt, 900},
                     {Chunk{"a"}, Chunk{"b", Boundary::Sentence}, Chunk{"c", Boundary::Paragraph}},
                     {"a|||0|", "b||>|900|", "c|<||0|"}},
        SequenceCase{"BothPauses",
                     {300, 900},
                     {Chunk{"a"}, Boundary::Paragraph, Chunk{"b", Boundary::Sentence}},
                     {"a||>|900|", "b|<||0|"}},
        SequenceCase{"ABreakWinsOverTheParagraphEnd",
                     {300, 900},
                     {Chunk{"a"}, Break{700}, Boundary::Paragraph, Chunk{"b"}},
                     {"a||>|700|", "b|<||0|"}},
        SequenceCase{"BreaksAddUp",
                     {},
                     {Chunk{"a"}, Break{200}, Break{300}, Chunk{"b"}},
                     {"a||>|500|", "b|<||0|"}},
        SequenceCase{
            "ABreakBeforeAnySpeech", {}, {Break{400}, Chunk{"a"}}, {"||>|400|", "a|<||0|"}},
        SequenceCase{"MarksGoWithTheNextSpeechOrEndTheSound",
                     {},
                     {Mark{"m1"}, Chunk{"a"}, Mark{"m2"}, Chunk{"b"}, Mark{"m3"}, Break{100}},
                     {"a|||0|m1,", "b||>|100|m2,", "|<||0|m3,"}}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace kestrova::speech
