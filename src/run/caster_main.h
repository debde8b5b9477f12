#pragma once
namespace sky {
int program_entry(int argc, char** argv);
}
