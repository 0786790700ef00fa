// Setting a parameter by the machine's own value. The host sees only the host range; what a
// host value means to the machine is what the machine's value text says (or, when the machine
// has no text of its own, the machine-range number that Kestrune shows instead). So the host
// value for a machine value is found by asking for the text of every host value.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace kestrune_host {

struct value_match {
    int host_value = 0;
    std::string text; // the machine's text for it
    // The text is the one asked for (ignoring case and blanks at the ends), or its number is.
    bool exact = false;
};

// The leading number of a text ("2000 Hz" gives 2000, "+1.5 cents" 1.5), or nothing.
std::optional<double> leading_number(const std::string& text);

// Among the host values lo..hi (either order), the one whose text is wanted; else, when wanted
// begins with a number, the one whose text's number is nearest to it (the lowest host value
// among equals). Nothing when neither finds one; examples then holds a few of the texts.
std::optional<value_match> find_value(int lo, int hi,
                                      const std::function<std::string(int)>& text_of,
                                      const std::string& wanted, std::string& examples);

} // namespace kestrune_host
