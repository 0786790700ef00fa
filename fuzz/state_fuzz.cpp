// State restore from random streams, and the store-then-restore round trip. A song file's
// state blob is untrusted: whatever it holds, the machine gets either nothing or one buffer of
// exactly the stored size, holding what the stream delivered and zeros after it.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "runtime/state.h"

extern "C" const char* __asan_default_options() {
    // A stored size asks for any block up to 2 GB: above this the allocator answers null, as a
    // 32-bit host's would, instead of libFuzzer counting the allocation as a crash.
    return "allocator_may_return_null=1:max_allocation_size_mb=512";
}

namespace {

using kestrune::host_instream;
using kestrune::host_outstream;

// A stream over fuzz bytes that delivers at most `most` bytes per read (0: no limit) and keeps
// every read: what was asked for and what it delivered.
class fuzz_instream final : public host_instream {
public:
    fuzz_instream(std::vector<unsigned char> bytes, std::size_t most)
        : bytes_(std::move(bytes)), most_(most) {}
    int read_bytes(void* buffer, int size) override {
        std::size_t wanted = size > 0 ? static_cast<std::size_t>(size) : 0;
        std::size_t left = bytes_.size() - position_;
        std::size_t given = wanted < left ? wanted : left;
        if (most_ != 0 && given > most_) {
            given = most_;
        }
        if (given > 0) {
            std::memcpy(buffer, bytes_.data() + position_, given);
        }
        reads.push_back({size, std::vector<unsigned char>(
                                   bytes_.begin() + static_cast<long>(position_),
                                   bytes_.begin() + static_cast<long>(position_ + given))});
        position_ += given;
        return static_cast<int>(given);
    }
    struct read {
        int asked;
        std::vector<unsigned char> given;
    };
    std::vector<read> reads;

private:
    std::vector<unsigned char> bytes_;
    std::size_t most_;
    std::size_t position_ = 0;
};

class vector_outstream final : public host_outstream {
public:
    int write_bytes(const void* buffer, int size) override {
        FUZZ_CHECK(size >= 0);
        const auto* from = static_cast<const unsigned char*>(buffer);
        bytes.insert(bytes.end(), from, from + size);
        return size;
    }
    std::vector<unsigned char> bytes;
};

// The machine's side: its stored data for dump_data, and what load_data was handed.
class state_machine final : public kestrune::machine {
public:
    int data_size() override { return size; }
    void dump_data(unsigned char* buffer) override {
        for (int i = 0; i < size; ++i) {
            buffer[i] = data[static_cast<std::size_t>(i) % data.size()];
        }
    }
    void load_data(unsigned char* buffer) override {
        ++loads;
        // Checks the buffer against the delivered bytes and the zero tail: all of it for a
        // block of up to 1 MB, else its first and last pages.
        FUZZ_CHECK(expected_size > 0);
        const std::size_t total = static_cast<std::size_t>(expected_size);
        for (std::size_t k = 0; k < total; ++k) {
            if (total > (1u << 20) && k == 4096) {
                k = total - 4096;
            }
            const unsigned char want = k < delivered.size() ? delivered[k] : 0;
            FUZZ_CHECK(buffer[k] == want);
        }
    }
    int size = 0;
    std::vector<unsigned char> data{0};
    int loads = 0;
    std::int32_t expected_size = 0;
    std::vector<unsigned char> delivered;
};

// An archive whose one stream is the one given.
class single_archive final : public kestrune::host_archive {
public:
    explicit single_archive(host_instream& in) : in_(&in) {}
    explicit single_archive(host_outstream& out) : out_(&out) {}
    host_outstream* output_stream(const char* name) override {
        FUZZ_CHECK(name != nullptr && name[0] == '\0');
        return out_;
    }
    host_instream* input_stream(const char* name) override {
        FUZZ_CHECK(name != nullptr && name[0] == '\0');
        return in_;
    }

private:
    host_instream* in_ = nullptr;
    host_outstream* out_ = nullptr;
};

std::int32_t padded_int(const std::vector<unsigned char>& given) {
    unsigned char bytes[4] = {0, 0, 0, 0};
    if (!given.empty()) {
        std::memcpy(bytes, given.data(), given.size() < 4 ? given.size() : 4);
    }
    return kestrune::decode_int32(bytes);
}

void restore_random_stream(FuzzedDataProvider& in) {
    const std::size_t most = in.ConsumeIntegralInRange<std::size_t>(0, 8);
    std::vector<unsigned char> bytes;
    if (in.ConsumeBool()) {
        // A well-formed head now and then, so the data part is reached often.
        const std::int32_t size = in.ConsumeBool()
                                      ? in.ConsumeIntegralInRange<std::int32_t>(-2, 300)
                                      : in.ConsumeIntegral<std::int32_t>();
        bytes.resize(8);
        kestrune::encode_int32(1, bytes.data());
        kestrune::encode_int32(size, bytes.data() + 4);
    }
    std::vector<unsigned char> rest = in.ConsumeRemainingBytes<unsigned char>();
    bytes.insert(bytes.end(), rest.begin(), rest.end());

    // The machine learns from the stream's own record what it should be handed; the record
    // of the first two reads is complete before load_data runs.
    fuzz_instream stream(bytes, most);
    state_machine target;
    struct peek final : public host_instream {
        int read_bytes(void* buffer, int size) override {
            int given = inner->read_bytes(buffer, size);
            if (inner->reads.size() == 2) {
                owner->expected_size = padded_int(inner->reads[1].given);
            } else if (inner->reads.size() == 3) {
                owner->delivered = inner->reads[2].given;
            }
            return given;
        }
        fuzz_instream* inner;
        state_machine* owner;
    } reader;
    reader.inner = &stream;
    reader.owner = &target;
    single_archive reader_archive(reader);
    kestrune::guarded_machine calls(&target);
    kestrune::byte_buffer kept;
    kestrune::restore_state(&reader_archive, calls, kept, false);
    FUZZ_CHECK(kept.size == (target.loads == 1 ? target.expected_size : 0));

    FUZZ_CHECK(!stream.reads.empty() && stream.reads[0].asked == 4);
    if (padded_int(stream.reads[0].given) != 1) {
        FUZZ_CHECK(stream.reads.size() == 1 && target.loads == 0);
        return;
    }
    FUZZ_CHECK(stream.reads.size() >= 2 && stream.reads[1].asked == 4);
    const std::int32_t size = padded_int(stream.reads[1].given);
    if (size <= 0) {
        FUZZ_CHECK(stream.reads.size() == 2 && target.loads == 0);
        return;
    }
    // One read of the whole data part and one load, unless the block couldn't be had.
    FUZZ_CHECK(stream.reads.size() <= 3 && target.loads == (stream.reads.size() == 3 ? 1 : 0));
    if (stream.reads.size() == 3) {
        FUZZ_CHECK(stream.reads[2].asked == size);
    } else {
        FUZZ_CHECK(size > (256 << 20)); // only a very large block may be refused
    }
}

void store_and_restore(FuzzedDataProvider& in) {
    state_machine source;
    source.size = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-3, 5000)
                                   : in.ConsumeIntegral<int>() % 70000;
    source.data = in.ConsumeBytes<unsigned char>(64);
    if (source.data.empty()) {
        source.data.push_back(0x5a);
    }
    vector_outstream out;
    kestrune::guarded_machine source_calls(&source);
    single_archive out_archive(out);
    kestrune::byte_buffer kept;
    kestrune::save_state(out_archive, source_calls, kept);
    if (source.size <= 0) {
        FUZZ_CHECK(out.bytes.empty());
        return;
    }
    FUZZ_CHECK(out.bytes.size() == 8 + static_cast<std::size_t>(source.size));
    fuzz_instream stream(out.bytes, 0);
    state_machine target;
    target.expected_size = source.size;
    target.delivered.assign(out.bytes.begin() + 8, out.bytes.end());
    kestrune::guarded_machine target_calls(&target);
    kestrune::byte_buffer data = kestrune::read_state_blob(stream);
    FUZZ_CHECK(data.size == source.size);
    target_calls.load_data(data.data, data.size);
    FUZZ_CHECK(target.loads == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
        store_and_restore(in);
    } else {
        restore_random_stream(in);
    }
    return 0;
}
