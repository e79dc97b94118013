#include "AudioArray.h"

#include <cmath>
#include <stdexcept>

namespace py = pybind11;

namespace TrelisPython {

namespace {

bool nativeOrder(const py::dtype& dtype) {
    const char order = dtype.attr("byteorder").cast<std::string>()[0];
    return order == '=' || order == '|';
}

template <typename T>
void mixBlock(const char* data, std::int64_t frameStride, std::int64_t channelStride,
              std::int64_t channels, std::int64_t start, std::int64_t count, double scale,
              double centre, float* out, bool& finite) {
    const char* frame = data + start * frameStride;
    if (channels == 1) {
        for (std::int64_t i = 0; i < count; ++i, frame += frameStride) {
            out[i] = static_cast<float>(
                (static_cast<double>(*reinterpret_cast<const T*>(frame)) - centre) * scale);
        }
    } else {
        const double weight = scale / static_cast<double>(channels);
        for (std::int64_t i = 0; i < count; ++i, frame += frameStride) {
            double sum = 0.0;
            const char* sample = frame;
            for (std::int64_t c = 0; c < channels; ++c, sample += channelStride) {
                sum += static_cast<double>(*reinterpret_cast<const T*>(sample)) - centre;
            }
            out[i] = static_cast<float>(sum * weight);
        }
    }
    if constexpr (std::is_floating_point_v<T>) {
        for (std::int64_t i = 0; i < count; ++i) {
            finite = finite && std::isfinite(out[i]);
        }
    }
}

}  // namespace

AudioArray::AudioArray(const py::object& samples, double rate, const std::string& what)
    : what_(what) {
    if (!(rate >= 1.0 && rate <= 4294967295.0) || rate != std::floor(rate)) {
        throw std::invalid_argument("rate must be a whole number of Hz above 0, not " +
                                    py::repr(py::float_(rate)).cast<std::string>());
    }
    rate_ = static_cast<unsigned int>(rate);
    py::array array = py::array::ensure(samples);
    if (!array) {
        throw std::invalid_argument(what_ + " is not an array of samples");
    }
    const py::dtype dtype = array.dtype();
    const char kind = dtype.kind();
    if (kind != 'f' && kind != 'i' && kind != 'u') {
        throw std::invalid_argument(
            what_ + " has dtype " +
            py::str(static_cast<const py::handle&>(dtype)).cast<std::string>() +
            ": samples must be floats or integers");
    }
    if (array.ndim() < 1 || array.ndim() > 2) {
        throw std::invalid_argument(what_ + " has " + std::to_string(array.ndim()) +
                                    " dimensions: give 1 (mono) or 2 (frames x channels)");
    }
    const bool readable = (kind == 'f' && (dtype.itemsize() == 4 || dtype.itemsize() == 8)) ||
                          (kind != 'f' && dtype.itemsize() <= 8);
    if (!readable || !nativeOrder(dtype)) {
        array = py::array::ensure(array.attr("astype")(
            kind == 'f' ? "float64"
                        : "=" + std::string(1, kind) + std::to_string(dtype.itemsize())));
        inPlace_ = false;
    }
    kind_ = array.dtype().kind();
    itemSize_ = static_cast<int>(array.dtype().itemsize());
    if (array.ndim() == 1) {
        frames_ = array.shape(0);
        frameStride_ = array.strides(0);
    } else {
        std::int64_t frameAxis = 0;
        const std::int64_t rows = array.shape(0), columns = array.shape(1);
        if (rows < columns && rows <= kMaxChannels) {
            frameAxis = 1;  // channels x frames
        } else if (!(columns < rows && columns <= kMaxChannels)) {
            throw std::invalid_argument(
                what_ + " has shape (" + std::to_string(rows) + ", " + std::to_string(columns) +
                "): give frames x channels, with at most " + std::to_string(kMaxChannels) +
                " channels and more frames than channels");
        }
        frames_ = array.shape(frameAxis);
        channels_ = array.shape(1 - frameAxis);
        frameStride_ = array.strides(frameAxis);
        channelStride_ = array.strides(1 - frameAxis);
    }
    if (frames_ == 0) {
        throw std::invalid_argument(what_ + " holds no samples");
    }
    data_ = static_cast<const char*>(array.data());
    array_ = std::move(array);
}

void AudioArray::read(std::int64_t start, std::int64_t count, float* out) const {
    bool finite = true;
    const auto mix = [&](auto zero, double scale, double centre) {
        mixBlock<decltype(zero)>(data_, frameStride_, channelStride_, channels_, start, count,
                                 scale, centre, out, finite);
    };
    const double full = std::ldexp(1.0, 8 * itemSize_ - 1);  // 2^(bits - 1)
    if (kind_ == 'f') {
        itemSize_ == 4 ? mix(float{}, 1.0, 0.0) : mix(double{}, 1.0, 0.0);
    } else if (kind_ == 'i') {
        switch (itemSize_) {
            case 1:
                mix(std::int8_t{}, 1.0 / full, 0.0);
                break;
            case 2:
                mix(std::int16_t{}, 1.0 / full, 0.0);
                break;
            case 4:
                mix(std::int32_t{}, 1.0 / full, 0.0);
                break;
            default:
                mix(std::int64_t{}, 1.0 / full, 0.0);
                break;
        }
    } else {
        switch (itemSize_) {
            case 1:
                mix(std::uint8_t{}, 1.0 / full, full);
                break;
            case 2:
                mix(std::uint16_t{}, 1.0 / full, full);
                break;
            case 4:
                mix(std::uint32_t{}, 1.0 / full, full);
                break;
            default:
                mix(std::uint64_t{}, 1.0 / full, full);
                break;
        }
    }
    if (!finite) {
        throw std::invalid_argument(what_ + " holds a value that is not finite (NaN or infinity)");
    }
}

}  // namespace TrelisPython
