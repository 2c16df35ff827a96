#include "aac_stretches.h"

#include "aac_stretch_encoder.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace kestrova::speech {

namespace {

constexpr std::size_t framesInBlock = 16; // about 0.75 s of sound at 22.05 kHz
// A stretch's queue holds twice the shortest stretch: a whole stretch is handed over
// without waiting while the one before is still encoding.
constexpr double queuedSeconds = 2 * AacStretches::shortestStretchSeconds;

// Two at least: one stretch encodes while the next is being filled.
std::size_t encodingThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 2u, AacStretches::mostThreads);
}

} // namespace

AacStretches::AacStretches(AacSettings settings, std::size_t frameSamples, PacketSink sink)
    : settings_(std::move(settings)), frameSamples_(frameSamples),
      blockSamples_(frameSamples * framesInBlock),
      shortestStretch_(static_cast<std::uint64_t>(std::ceil(
                           shortestStretchSeconds * settings_.format.sampleRate / frameSamples)) *
                       frameSamples),
      queuedBlocks_(static_cast<std::size_t>(
          std::ceil(queuedSeconds * settings_.format.sampleRate / blockSamples_))),
      mostInFlight_(encodingThreads()), sink_(std::move(sink)) {
    block_.reserve(blockSamples_);
}

AacStretches::~AacStretches() = default;

void AacStretches::write(std::span<const std::int16_t> samples) {
    drain();
    while (!samples.empty()) {
        const std::size_t take =
            std::min(frameSamples_ - block_.size() % frameSamples_, samples.size());
        const auto piece = samples.first(take);
        block_.insert(block_.end(), piece.begin(), piece.end());
        samples = samples.subspan(take);
        if (block_.size() % frameSamples_ == 0)
            takeFrame();
    }
}

// A frame is complete: the stretch ends before it where it and the frame before are silent,
// and the stretch is long enough.
void AacStretches::takeFrame() {
    const auto frame = std::span(block_).last(frameSamples_);
    const bool silent = std::all_of(frame.begin(), frame.end(), [](auto s) { return s == 0; });
    const std::uint64_t frameStart = stretchSamples_ + block_.size() - frameSamples_;
    const bool cut = silent && previousFrameSilent_ && frameStart >= shortestStretch_;
    previousFrameSilent_ = silent;
    if (cut) {
        std::vector<std::int16_t> next(frame.begin(), frame.end());
        next.reserve(blockSamples_);
        block_.resize(block_.size() - frameSamples_);
        if (!block_.empty())
            handOver(std::exchange(block_, {}));
        endStretch(false);
        block_ = std::move(next);
    } else if (block_.size() == blockSamples_) {
        handOver(std::exchange(block_, {}));
        block_.reserve(blockSamples_);
    }
}

void AacStretches::handOver(std::vector<std::int16_t> block) {
    if (!feeding_)
        beginStretch();
    const std::size_t size = block.size();
    inFlight_.back()->push(std::move(block));
    stretchSamples_ += size;
    drain();
}

// A thread for the next stretch, once one of those in flight has made room.
void AacStretches::beginStretch() {
    while (inFlight_.size() >= mostInFlight_)
        retireHead();
    inFlight_.push_back(std::make_unique<AacStretchEncoder>(
        settings_, static_cast<std::int64_t>(stretchStart_), queuedBlocks_));
    feeding_ = true;
}

void AacStretches::endStretch(bool last) {
    inFlight_.back()->finish(last);
    feeding_ = false;
    stretchStart_ += stretchSamples_;
    stretchSamples_ = 0;
}

// The oldest stretch, encoded to its end, goes to the sink.
void AacStretches::retireHead() {
    AacStretchEncoder& head = *inFlight_.front();
    head.waitFinished();
    sink_(head.takePackets());
    inFlight_.pop_front();
}

// What the oldest stretches have encoded so far goes to the sink; a failure of any is thrown.
void AacStretches::drain() {
    for (const auto& stretch : inFlight_)
        stretch->rethrowFailure();
    while (!inFlight_.empty() && inFlight_.front()->done())
        retireHead();
    if (!inFlight_.empty())
        sink_(inFlight_.front()->takePackets());
}

void AacStretches::finish() {
    if (!block_.empty())
        handOver(std::exchange(block_, {}));
    if (feeding_)
        endStretch(true);
    while (!inFlight_.empty())
        retireHead();
}

} // namespace kestrova::speech
