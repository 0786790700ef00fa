#include "wav_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "hostkit/little_endian.h"

namespace kestrune_host {

namespace {

constexpr unsigned format_pcm = 1;
constexpr unsigned format_float = 3;
constexpr unsigned format_extensible = 0xfffe;
// RIFF sizes are 32-bit: the data chunk may grow this far with the header in front of it.
constexpr unsigned long long most_data_bytes = 0xffffffffull - 64;

void put(std::vector<unsigned char>& out, unsigned value, int bytes) {
    unsigned char le[4];
    hostkit::write_le(le, value, bytes);
    out.insert(out.end(), le, le + bytes);
}

struct wav_layout {
    unsigned tag = 0; // format_pcm or format_float
    int channels = 0;
    int samples_per_second = 0;
    int bits = 0;
};

// One sample at full scale 1.0.
float sample_at(const unsigned char* at, const wav_layout& w) {
    if (w.tag == format_float) {
        if (w.bits == 64) {
            double d = 0;
            std::memcpy(&d, at, sizeof d);
            return static_cast<float>(d);
        }
        float f = 0;
        std::memcpy(&f, at, sizeof f);
        return f;
    }
    if (w.bits == 8) {
        return (static_cast<float>(at[0]) - 128.0f) / 128.0f;
    }
    // Signed integers: the bytes go to the top of 32 bits, so the sign lands where it belongs.
    unsigned top = hostkit::read_le(at, w.bits / 8) << (32 - w.bits);
    return static_cast<float>(static_cast<std::int32_t>(top) / 2147483648.0);
}

bool read_layout(const std::vector<unsigned char>& fmt, wav_layout& w) {
    if (fmt.size() < 16) {
        return false;
    }
    w.tag = hostkit::read_le(&fmt[0], 2);
    w.channels = static_cast<int>(hostkit::read_le(&fmt[2], 2));
    w.samples_per_second = static_cast<int>(hostkit::read_le(&fmt[4], 4));
    w.bits = static_cast<int>(hostkit::read_le(&fmt[14], 2));
    if (w.tag == format_extensible && fmt.size() >= 26) {
        w.tag = hostkit::read_le(&fmt[24], 2); // the sub-format GUID starts with the plain tag
    }
    bool pcm = w.tag == format_pcm && (w.bits == 8 || w.bits == 16 || w.bits == 24 || w.bits == 32);
    bool floats = w.tag == format_float && (w.bits == 32 || w.bits == 64);
    return (pcm || floats) && w.samples_per_second > 0;
}

std::vector<unsigned char> read_all(const std::string& path, bool& ok) {
    std::vector<unsigned char> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ok = file != nullptr;
    if (!ok) {
        return bytes;
    }
    unsigned char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    ok = std::ferror(file) == 0;
    std::fclose(file);
    return bytes;
}

int bytes_per_sample(sample_format format) {
    return format == sample_format::pcm16 ? 2 : format == sample_format::pcm24 ? 3 : 4;
}

// The header for frames stereo frames: RIFF, fmt and the data chunk's head (44 bytes).
std::vector<unsigned char> header(int samples_per_second, sample_format format,
                                  unsigned long long frames) {
    int width = bytes_per_sample(format);
    auto data = static_cast<unsigned>(frames * 2 * static_cast<unsigned>(width));
    std::vector<unsigned char> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put(out, 36 + data, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(out, 16, 4);
    put(out, format == sample_format::float32 ? format_float : format_pcm, 2);
    put(out, 2, 2);
    put(out, static_cast<unsigned>(samples_per_second), 4);
    put(out, static_cast<unsigned>(samples_per_second * 2 * width), 4);
    put(out, static_cast<unsigned>(2 * width), 2);
    put(out, static_cast<unsigned>(8 * width), 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put(out, data, 4);
    return out;
}

void put_sample(std::vector<unsigned char>& out, float value, sample_format format) {
    if (format == sample_format::float32) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        put(out, bits, 4);
        return;
    }
    double scale = format == sample_format::pcm16 ? 32767.0 : 8388607.0;
    double clipped = std::isnan(value) ? 0.0 : std::clamp(static_cast<double>(value), -1.0, 1.0);
    auto integer = static_cast<std::int32_t>(std::lround(clipped * scale));
    put(out, static_cast<unsigned>(integer), bytes_per_sample(format));
}

} // namespace

std::optional<stereo_sound> read_sound(const std::string& path, std::string& error) {
    bool ok = false;
    std::vector<unsigned char> bytes = read_all(path, ok);
    if (!ok) {
        error = "can't read the sound file " + path;
        return std::nullopt;
    }
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = "can't read the sound file " + path + ": it is not a WAV file";
        return std::nullopt;
    }
    std::vector<unsigned char> fmt;
    const unsigned char* data = nullptr;
    std::size_t data_size = 0;
    for (std::size_t at = 12; at + 8 <= bytes.size() && data == nullptr;) {
        std::size_t size = hostkit::read_le(&bytes[at + 4], 4);
        std::size_t body = at + 8;
        std::size_t present = std::min(size, bytes.size() - body);
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0) {
            fmt.assign(bytes.begin() + static_cast<long>(body),
                       bytes.begin() + static_cast<long>(body + present));
        } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
            data = &bytes[body];
            data_size = present; // a file cut short keeps what it has
        }
        at = body + size + (size & 1);
    }
    wav_layout w;
    if (!read_layout(fmt, w) || data == nullptr) {
        error = "can't read the sound file " + path +
                ": it is not integer PCM or float WAV, or it has no sound in it";
        return std::nullopt;
    }
    if (w.channels < 1 || w.channels > 2) {
        error = path + " has " + std::to_string(w.channels) +
                " channels; a render takes mono or stereo input";
        return std::nullopt;
    }
    stereo_sound sound;
    sound.samples_per_second = w.samples_per_second;
    std::size_t frame = static_cast<std::size_t>(w.bits / 8) * static_cast<std::size_t>(w.channels);
    std::size_t frames = data_size / frame;
    sound.left.resize(frames);
    sound.right.resize(frames);
    for (std::size_t k = 0; k < frames; ++k) {
        const unsigned char* at = data + k * frame;
        sound.left[k] = sample_at(at, w);
        sound.right[k] = w.channels == 2 ? sample_at(at + w.bits / 8, w) : sound.left[k];
    }
    return sound;
}

std::optional<sample_format> parse_sample_format(const std::string& text) {
    if (text == "16" || text == "pcm16") {
        return sample_format::pcm16;
    }
    if (text == "24" || text == "pcm24") {
        return sample_format::pcm24;
    }
    if (text == "float" || text == "32f" || text == "float32") {
        return sample_format::float32;
    }
    return std::nullopt;
}

wav_writer::~wav_writer() {
    discard();
}

bool wav_writer::open(const std::string& path, int samples_per_second, sample_format format,
                      std::string& error) {
    discard();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "can't write " + path;
        return false;
    }
    file_ = file;
    path_ = path;
    format_ = format;
    frames_ = 0;
    peak_ = 0.0f;
    samples_per_second_ = samples_per_second;
    std::vector<unsigned char> head = header(samples_per_second, format, 0);
    if (std::fwrite(head.data(), 1, head.size(), file) != head.size()) {
        discard();
        error = "can't write " + path;
        return false;
    }
    return true;
}

bool wav_writer::write(const float* left, const float* right, int count, std::string& error) {
    if (file_ == nullptr || count <= 0) {
        return file_ != nullptr;
    }
    auto width = static_cast<unsigned long long>(bytes_per_sample(format_));
    if ((frames_ + static_cast<unsigned long long>(count)) * 2 * width > most_data_bytes) {
        error = "can't write " + path_ + ": a WAV file holds at most 4 GB";
        return false;
    }
    bytes_.clear();
    for (int k = 0; k < count; ++k) {
        put_sample(bytes_, left[k], format_);
        put_sample(bytes_, right[k], format_);
        float l = std::fabs(left[k]);
        float r = std::fabs(right[k]);
        peak_ = l > peak_ ? l : peak_;
        peak_ = r > peak_ ? r : peak_;
    }
    if (std::fwrite(bytes_.data(), 1, bytes_.size(), static_cast<std::FILE*>(file_)) !=
        bytes_.size()) {
        error = "can't write " + path_;
        return false;
    }
    frames_ += static_cast<unsigned long long>(count);
    return true;
}

bool wav_writer::close(std::string& error) {
    if (file_ == nullptr) {
        return true;
    }
    auto* file = static_cast<std::FILE*>(file_);
    file_ = nullptr;
    std::vector<unsigned char> head = header(samples_per_second_, format_, frames_);
    bool ok = std::fseek(file, 0, SEEK_SET) == 0 &&
              std::fwrite(head.data(), 1, head.size(), file) == head.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error = "can't finish " + path_;
        std::remove(path_.c_str());
    }
    return ok;
}

void wav_writer::discard() {
    if (file_ != nullptr) {
        std::fclose(static_cast<std::FILE*>(file_));
        file_ = nullptr;
        std::remove(path_.c_str());
    }
}

} // namespace kestrune_host
