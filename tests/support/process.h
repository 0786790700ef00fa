// Runs a program to its end and captures what it printed, for tests that drive a small host
// executable from outside.
#pragma once

#include <string>
#include <vector>

namespace kestrune::test {

struct process_result {
    bool started = false; // false when the program couldn't be run at all
    int exit_code = -1;   // the program's exit code (the whole Windows code on Windows)
    std::string output;   // standard output, with "\r\n" turned into "\n"

    std::vector<std::string> lines() const; // output, one entry a line, without line feeds
};

// Runs program with arguments, its working folder the caller's, standard error passed through.
process_result run_program(const std::string& program, const std::vector<std::string>& arguments);

} // namespace kestrune::test
