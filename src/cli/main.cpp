#include "cli/command_line.h"

int main(int argc, char** argv) {
    return kestrova::cli::run(argc, argv);
}
