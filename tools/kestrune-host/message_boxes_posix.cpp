// Natively: the library's boxes are lines on standard error, read by capturing it.
#include "capture.h"
#include "message_boxes.h"

namespace kestrune_host {

bool watch_message_boxes(const std::string&, std::string&) {
    return true;
}

box_reader::box_reader(bool) : state_(new stderr_capture) {}

box_reader::~box_reader() {
    delete static_cast<stderr_capture*>(state_);
}

std::string box_reader::finish() {
    return static_cast<stderr_capture*>(state_)->finish();
}

} // namespace kestrune_host
