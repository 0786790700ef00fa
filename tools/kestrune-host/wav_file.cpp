#include "wav_file.h"

#include <cmath>
#include <cstdio>

#include <sndfile.h>

namespace kestrune_host {

std::optional<stereo_sound> read_sound(const std::string& path, std::string& error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = "can't read the sound file " + path + ": " + sf_strerror(nullptr);
        return std::nullopt;
    }
    if (info.channels < 1 || info.channels > 2) {
        error = path + " has " + std::to_string(info.channels) +
                " channels; a render takes mono or stereo input";
        sf_close(file);
        return std::nullopt;
    }
    stereo_sound sound;
    sound.samples_per_second = info.samplerate;
    std::vector<float> block(static_cast<std::size_t>(4096 * info.channels));
    sf_count_t got = 0;
    while ((got = sf_readf_float(file, block.data(), 4096)) > 0) {
        for (sf_count_t k = 0; k < got; ++k) {
            float l = block[static_cast<std::size_t>(k * info.channels)];
            float r = info.channels == 2 ? block[static_cast<std::size_t>(k * 2 + 1)] : l;
            sound.left.push_back(l);
            sound.right.push_back(r);
        }
    }
    sf_close(file);
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
    SF_INFO info{};
    info.samplerate = samples_per_second;
    info.channels = 2;
    int subtype = format == sample_format::pcm16   ? SF_FORMAT_PCM_16
                  : format == sample_format::pcm24 ? SF_FORMAT_PCM_24
                                                   : SF_FORMAT_FLOAT;
    info.format = SF_FORMAT_WAV | subtype;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = "can't write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (format != sample_format::float32) {
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }
    file_ = file;
    path_ = path;
    peak_ = 0.0f;
    return true;
}

bool wav_writer::write(const float* left, const float* right, int count, std::string& error) {
    if (file_ == nullptr || count <= 0) {
        return file_ != nullptr;
    }
    interleaved_.resize(static_cast<std::size_t>(count) * 2);
    for (int k = 0; k < count; ++k) {
        interleaved_[static_cast<std::size_t>(k) * 2] = left[k];
        interleaved_[static_cast<std::size_t>(k) * 2 + 1] = right[k];
        float l = std::fabs(left[k]);
        float r = std::fabs(right[k]);
        peak_ = l > peak_ ? l : peak_;
        peak_ = r > peak_ ? r : peak_;
    }
    auto* file = static_cast<SNDFILE*>(file_);
    if (sf_writef_float(file, interleaved_.data(), count) != count) {
        error = "can't write " + path_ + ": " + sf_strerror(file);
        return false;
    }
    return true;
}

bool wav_writer::close(std::string& error) {
    if (file_ == nullptr) {
        return true;
    }
    auto* file = static_cast<SNDFILE*>(file_);
    file_ = nullptr;
    if (sf_close(file) != 0) {
        error = "can't finish " + path_;
        std::remove(path_.c_str());
        return false;
    }
    return true;
}

void wav_writer::discard() {
    if (file_ != nullptr) {
        sf_close(static_cast<SNDFILE*>(file_));
        file_ = nullptr;
        std::remove(path_.c_str());
    }
}

} // namespace kestrune_host
