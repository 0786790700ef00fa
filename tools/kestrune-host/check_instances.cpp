// The checks of how a machine holds its state: damaged stored states, two instances side by
// side, and a render on another thread than the start.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "check_context.h"
#include "check_fault.h"
#include "check_player.h"
#include "hostkit/memory_archive.h"

namespace kestrune_host {

namespace {

// Kestrune's stored form: version 1 and the size, little-endian, then the data. size may claim
// more than data holds: the instance then hands the machine zeros for the rest.
hostkit::bytes stored_form(std::int32_t size, const hostkit::bytes& data) {
    hostkit::bytes out;
    for (std::int32_t word : {std::int32_t{1}, size}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<unsigned char>(static_cast<std::uint32_t>(word) >> (8 * i)));
        }
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A sample's bits: "the same" is bit for bit, NaNs and signed zeros included.
std::uint32_t bits_of(float sample) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits;
}

hostkit::bytes random_bytes(random_stream& random, std::size_t count) {
    hostkit::bytes out(count);
    for (unsigned char& b : out) {
        b = static_cast<unsigned char>(random.next() >> 56);
    }
    return out;
}

} // namespace

check_row check_damaged_state(check_context& c, std::string& fault) {
    const char* name = "damaged state";
    // The machine's own state, away from its defaults.
    hostkit::bytes own;
    {
        player p(c.info, 44100);
        std::string error;
        if (!p.start(nullptr, error)) {
            return not_started(name, error);
        }
        std::vector<std::pair<int, int>> values;
        for (std::size_t i = 0; i < c.info.global_params().size(); ++i) {
            const kestrune::host_parameter& param = *c.info.global_params()[i];
            values.emplace_back(static_cast<int>(i), c.random.between(param.lowest, param.highest));
        }
        p.tick(values, {});
        hostkit::memory_archive stored;
        p.plugin().store_state(&stored);
        fault = fault_of(p.plugin());
        if (!fault.empty()) {
            return check_row{name, verdict::fail, "", {}};
        }
        auto found = stored.entries.find("");
        if (found != stored.entries.end() && found->second.size() > 8) {
            own.assign(found->second.begin() + 8, found->second.end());
        }
    }
    struct damage {
        const char* what;
        hostkit::bytes stored;
    };
    // A damaged file keeps its header and loses what follows: the header claims at least the
    // machine's own size, so that the instance hands the machine a block of that size (zeros
    // where the data ends). load_data is given no size, so every machine reads its own size;
    // a smaller block would be read past by any of them.
    auto claimed = [&own](std::size_t bytes) {
        return static_cast<std::int32_t>(std::max<std::size_t>({own.size(), bytes, 4}));
    };
    std::vector<damage> cases = {
        {"empty", stored_form(claimed(0), {})},
        {"3 bytes", stored_form(claimed(3), random_bytes(c.random, 3))},
        {"1 MB of random bytes", stored_form(claimed(1 << 20), random_bytes(c.random, 1 << 20))},
    };
    if (own.size() >= 2) {
        hostkit::bytes half(own.begin(), own.begin() + static_cast<long>(own.size() / 2));
        cases.push_back({"its own state cut short", stored_form(claimed(0), half)});
    }
    std::string warned;
    for (const damage& d : cases) {
        hostkit::memory_archive archive;
        archive.entries[""] = d.stored;
        player p(c.info, 44100);
        std::string error;
        bool started = p.start(&archive, error);
        if (p.has_instance()) {
            fault = fault_of(p.plugin());
        }
        if (!fault.empty()) {
            return check_row{name, verdict::fail, "", {}};
        }
        if (!started) {
            return check_row{name, verdict::fail, std::string(d.what) + ": " + error, {}};
        }
        p.tick(check_note);
        sample_counts counts = p.render(4096, 256);
        fault = fault_of(p.plugin());
        if (!fault.empty()) {
            return check_row{name, verdict::fail, "", {}};
        }
        if (warned.empty() && (counts.nans > 0 || counts.infinities > 0)) {
            warned = std::string("plays ") + bad_sample_text(counts) + " samples after " + d.what;
        }
    }
    std::string tried = "empty, 3 bytes, 1 MB of random bytes" +
                        std::string(own.size() >= 2 ? ", its own state cut short" : "");
    if (!warned.empty()) {
        return check_row{name, verdict::warn, warned, {}};
    }
    return check_row{name, verdict::pass, "no fault after " + tried, {}};
}

check_row check_two_instances(check_context& c, std::string& fault) {
    const char* name = "two instances";
    constexpr int blocks = 64;
    constexpr int block = 256;
    std::vector<float> alone;
    {
        player a(c.info, 44100);
        std::string error;
        if (!a.start(nullptr, error)) {
            return not_started(name, error);
        }
        a.tick(check_note);
        for (int b = 0; b < blocks; ++b) {
            a.render(block, block);
            alone.insert(alone.end(), a.left().begin(), a.left().begin() + block);
            alone.insert(alone.end(), a.right().begin(), a.right().begin() + block);
        }
        fault = fault_of(a.plugin());
        if (!fault.empty()) {
            return check_row{name, verdict::fail, "", {}};
        }
    }
    player a(c.info, 44100);
    player b(c.info, 44100);
    std::string error;
    if (!a.start(nullptr, error) || !b.start(nullptr, error)) {
        return not_started(name, error);
    }
    a.tick(check_note);
    b.tick(check_note);
    long long differ = 0;
    double largest = 0.0;
    std::size_t at = 0;
    const auto& params = c.info.global_params();
    for (int k = 0; k < blocks; ++k) {
        a.render(block, block);
        for (int ch = 0; ch < 2; ++ch) {
            const std::vector<float>& out = ch == 0 ? a.left() : a.right();
            for (int s = 0; s < block; ++s, ++at) {
                float expected = alone[at];
                if (bits_of(expected) != bits_of(out[static_cast<std::size_t>(s)])) {
                    ++differ;
                    double gap =
                        std::fabs(static_cast<double>(expected) - out[static_cast<std::size_t>(s)]);
                    largest = std::isfinite(gap) && gap > largest ? gap : largest;
                }
            }
        }
        std::vector<std::pair<int, int>> values;
        for (std::size_t i = 0; i < params.size(); ++i) {
            values.emplace_back(static_cast<int>(i),
                                c.random.between(params[i]->lowest, params[i]->highest));
        }
        b.tick(values, {});
        b.render(block, block);
    }
    fault = fault_of(a.plugin());
    if (fault.empty()) {
        fault = fault_of(b.plugin());
    }
    check_row row{
        name, verdict::pass, "the same bit for bit while the other one's parameters move", {}};
    row.figures = {{"samples differing", static_cast<double>(differ)},
                   {"largest difference", largest}};
    if (differ > 0) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the instances share state: %lld of %lld samples differ from one alone, "
                      "by up to %.3g (%.1f dBFS)",
                      differ, static_cast<long long>(alone.size()), largest,
                      largest > 0.0 ? 20.0 * std::log10(largest) : -999.0);
        row.result = verdict::warn;
        row.reason = text;
    }
    return row;
}

check_row check_threads(check_context& c, std::string& fault) {
    const char* name = "threads";
    player p(c.info, 44100);
    std::string error;
    if (!p.start(nullptr, error)) {
        return not_started(name, error);
    }
    sample_counts counts;
    // Nothing of the standard library's thread may throw here: a thread that can't be started
    // is a row that says so.
    try {
        std::thread audio([&p, &counts] {
            p.tick(check_note);
            counts = p.render(22050, 256);
        });
        audio.join();
    } catch (const std::system_error& e) {
        return check_row{name, verdict::skip, std::string("no second thread: ") + e.what(), {}};
    }
    fault = fault_of(p.plugin());
    if (counts.nans > 0 || counts.infinities > 0) {
        return check_row{name,
                         verdict::fail,
                         bad_sample_text(counts) + " samples rendered on another thread",
                         {}};
    }
    return check_row{name, verdict::pass, "started on one thread, rendered on another", {}};
}

} // namespace kestrune_host
