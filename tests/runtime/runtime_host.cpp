// The least of a host for the runtime's end-to-end test. Copied into a fresh folder with the
// Kestrune library beside it and the logging generator at Gear/Psycle/generator.dll, it reaches
// Kestrune only through its two exports and prints, one record a line:
//   announced <count>
//   machine <call>                 (each call the generator logged, in order)
//   render <answer> <left[0]> <right[last]>
//   stored <hex bytes>             (the state blob)
//   text <value text>
//   still-loaded                   (the generator's DLL is loaded after everything was released)
//   released
// With the argument "orphan" it instead drives the generator to a fault in render_block,
// releases everything, frees the library, and then calls the callback that the machine kept:
//   orphan <message> <tick_length> <sample_rate> <tempo> <beat_ticks>
//   library-loaded                 (the library is still mapped after the host freed it)
// Exit code 0; 2 when the library can't be opened, 3 when it gives no collection or no
// generator, 4 when the generator's control can't be reached.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "hostkit/library.h"
#include "hostkit/master_info.h"
#include "hostkit/memory_archive.h"
#include "hostkit/recording_factory.h"
#include "machine/machine_interface.h"
#include "tests/fixtures/runtime/fixture_control.h"

namespace {

// The generator's own copy, loaded by path as Kestrune loads it, for its log and settings.
struct generator_dll {
    explicit generator_dll(const std::string& path) : module(hostkit::load_module(path)) {
        void* found =
            module != nullptr ? hostkit::find_symbol(module, FIXTURE_CONTROL_EXPORT) : nullptr;
        if (found != nullptr) {
            state = reinterpret_cast<fixture_control_function>(found)();
        }
    }
    void close() { hostkit::free_module(module); }
    // Prints the calls logged since the last print.
    void print_log() {
        std::string log(state->log, static_cast<std::size_t>(state->log_length));
        state->log_length = 0;
        std::size_t start = 0;
        for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
            std::printf("machine %s\n", log.substr(start, end - start).c_str());
        }
    }
    void* module = nullptr;
    fixture_state* state = nullptr;
};

std::string hex(const hostkit::bytes& bytes) {
    std::string text;
    char byte[4];
    for (unsigned char b : bytes) {
        std::snprintf(byte, sizeof byte, " %02x", b);
        text += byte;
    }
    return text;
}

// A machine that faults keeps its callback; its timer or thread may call it long after the host
// has released everything and freed the library.
int orphan(kestrune::host_info& info, kestrune::host_collection& collection,
           generator_dll& generator, hostkit::library& kestrune) {
    kestrune::host_master_info master = hostkit::make_master_info(90, 6, 22050);
    kestrune::host_plugin* plugin = info.make_instance();
    if (plugin == nullptr) {
        return 3;
    }
    plugin->master_info = &master;
    plugin->start(nullptr);
    auto* callback = static_cast<kestrune::machine_host_callback*>(generator.state->seen_callback);
    std::strcpy(generator.state->fault_call, "render_block");
    generator.state->fault_kind = FIXTURE_FAULT_THROW;
    float left[4] = {}, right[4] = {};
    float* outputs[2] = {left, right};
    plugin->render(nullptr, outputs, 4, 2);
    generator.state->fault_kind = 0;
    plugin->release();
    collection.release();
    generator.close();
    kestrune.close();
    if (callback == nullptr) {
        return 4;
    }
    int answer = callback->message("Hello from a timer", "Fixture", 0);
    std::printf("orphan %d %d %d %d %d\n", answer, callback->tick_length(), callback->sample_rate(),
                callback->tempo(), callback->beat_ticks());
    if (hostkit::module_is_loaded(hostkit::library_beside_program())) {
        std::printf("library-loaded\n");
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path folder = std::filesystem::path(hostkit::executable_folder());
    std::string generator_path = (folder / "Gear" / "Psycle" / "generator.dll").string();

    hostkit::library kestrune;
    if (!kestrune.open(hostkit::library_beside_program())) {
        return 2;
    }
    kestrune::host_collection* collection = kestrune.new_collection();
    if (collection == nullptr) {
        return 3;
    }
    hostkit::recording_factory factory;
    collection->setup(&factory);
    std::printf("announced %u\n", static_cast<unsigned>(factory.announced.size()));
    if (factory.announced.size() != 1) {
        return 3;
    }
    kestrune::host_info* info = factory.announced[0];

    generator_dll generator(generator_path);
    if (generator.state == nullptr) {
        return 4;
    }
    generator.state->log_length = 0;
    if (argc > 1 && std::strcmp(argv[1], "orphan") == 0) {
        return orphan(*info, *collection, generator, kestrune);
    }
    generator.state->ask_in_start_up = 2;

    // One instance: started, one note, one block.
    kestrune::host_master_info master = hostkit::make_master_info(125, 4, 44100);
    kestrune::host_plugin* first = info->make_instance();
    if (first == nullptr) {
        return 3;
    }
    first->master_info = &master;
    first->start(nullptr);
    first->set_tracks(8);
    std::memset(first->global_values, 0xFF, 7); // every global empty
    std::memset(first->track_values, 0, 8 * 3);
    first->track_values[2 * 3] = 0x41;
    first->track_values[2 * 3 + 1] = 0x40;
    first->track_values[2 * 3 + 2] = 0x0C;
    first->global_values[0] = 0xFF; // Cutoff: host 32767, machine 50000
    first->global_values[1] = 0x7F;
    first->take_events();

    generator.state->render_action = 1;
    generator.state->render_value = 16384.0f;
    constexpr int block = 64;
    float left[block] = {}, right[block] = {};
    float* outputs[2] = {left, right};
    bool sound = first->render(outputs, outputs, block, 2);
    std::printf("render %d %g %g\n", sound ? 1 : 0, static_cast<double>(left[0]),
                static_cast<double>(right[block - 1]));
    std::printf("text %s\n", first->value_text(0, 32767));
    std::printf("text %s\n", first->value_text(5, 0x0C40));

    // Its state, stored and restored into a second instance.
    hostkit::memory_archive archive;
    generator.state->data_size = 6;
    generator.state->dump_first = 0x30;
    first->store_state(&archive);
    std::printf("stored%s\n", hex(archive.entries[""]).c_str());
    generator.print_log();

    generator.state->ask_in_start_up = 0;
    generator.state->load_bytes = 6;
    kestrune::host_plugin* second = info->make_instance();
    if (second == nullptr) {
        return 3;
    }
    second->master_info = &master;
    second->start(&archive);
    generator.print_log();

    first->release();
    second->release();
    generator.print_log();
    collection->release();
    generator.close();
    if (hostkit::module_is_loaded(generator_path)) {
        std::printf("still-loaded\n");
    }
    kestrune.close();
    std::printf("released\n");
    std::fflush(stdout);
    return 0;
}
