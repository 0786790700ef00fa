// WAV files, read and written here in plain RIFF on every platform: the input of an effect, and
// the output of every render. Whatever the file holds, the program works in 32-bit float stereo
// at full scale 1.0.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrune_host {

struct stereo_sound {
    int samples_per_second = 0;
    std::vector<float> left, right;
};

// A whole WAV file as stereo: mono is heard in both channels; more than two channels are
// refused. It reads integer PCM of 8, 16, 24 and 32 bits and float of 32 and 64 bits, plain or
// in the extensible format.
std::optional<stereo_sound> read_sound(const std::string& path, std::string& error);

enum class sample_format { pcm16, pcm24, float32 };
std::optional<sample_format> parse_sample_format(const std::string& text); // "16", "24", "float"

// A WAV file written block by block. Integer formats clip at full scale instead of wrapping.
class wav_writer {
public:
    wav_writer() = default;
    ~wav_writer();
    wav_writer(const wav_writer&) = delete;
    wav_writer& operator=(const wav_writer&) = delete;

    // Creates (or replaces) the file; false with error when it can't be written.
    bool open(const std::string& path, int samples_per_second, sample_format format,
              std::string& error);
    // Appends count frames; false with error when the write fails.
    bool write(const float* left, const float* right, int count, std::string& error);
    // Finishes the file; false with error when that fails.
    bool close(std::string& error);
    // Closes and deletes the file: a render that failed leaves nothing half-written behind.
    void discard();

    float peak() const { return peak_; } // the largest magnitude written so far

private:
    void* file_ = nullptr; // FILE*
    std::string path_;
    sample_format format_ = sample_format::pcm16;
    int samples_per_second_ = 0;
    unsigned long long frames_ = 0;
    std::vector<unsigned char> bytes_;
    float peak_ = 0.0f;
};

} // namespace kestrune_host
