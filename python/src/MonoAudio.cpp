#include "MonoAudio.h"

#include <algorithm>
#include <cstring>

#include "Resampler.h"

namespace TrelisPython {

MonoAudio::MonoAudio(std::shared_ptr<const AudioArray> array)
    : array_(std::move(array)), rate_(array_->rate()) {}

MonoAudio::MonoAudio(std::shared_ptr<const std::vector<float>> samples, unsigned int rate)
    : samples_(std::move(samples)), rate_(rate) {}

std::uint64_t MonoAudio::count() const {
    return array_ ? static_cast<std::uint64_t>(array_->frames()) : samples_->size();
}

void MonoAudio::read(std::uint64_t start, std::uint64_t count, float* out) const {
    if (array_) {
        array_->read(static_cast<std::int64_t>(start), static_cast<std::int64_t>(count), out);
    } else {
        std::memcpy(out, samples_->data() + start, count * sizeof(float));
    }
}

MonoAudio MonoAudio::at(unsigned int rate, const std::function<void(double)>& poll) const {
    if (rate == rate_) {
        return *this;
    }
    const Resampler resampler(rate_, rate);
    const std::uint64_t total = count();
    auto out = std::make_shared<std::vector<float>>(resampler.outputCount(total));
    // A second of output at a time, from the input span it needs.
    const std::uint64_t span = rate;
    std::vector<float> window;
    for (std::uint64_t from = 0; from < out->size(); from += span) {
        const std::uint64_t to = std::min<std::uint64_t>(out->size(), from + span);
        const auto [first, last] = resampler.inputSpan(from, to, total);
        window.resize(last - first);
        read(first, last - first, window.data());
        resampler.process(window.data(), first, total, from, to, out->data() + from);
        if (poll) {
            poll(static_cast<double>(to) / static_cast<double>(out->size()));
        }
    }
    return MonoAudio(std::move(out), rate);
}

}  // namespace TrelisPython
