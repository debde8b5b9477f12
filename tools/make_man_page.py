#!/usr/bin/env python3
"""Writes a program's man page from its own usage text: the build runs the
program for its usage and sets that text in roff, so the page and the usage
can never disagree.

usage: make_man_page.py OUTPUT NAME SUMMARY SEE_ALSO STREAM -- COMMAND...
STREAM says where COMMAND prints its usage: stdout or stderr (the exit
status is not looked at: a usage may end in an error status).
"""
import os
import subprocess
import sys


def roff_escape(line):
    line = line.replace("\\", "\\e")
    # A line starting with a dot or quote would be read as a request.
    if line.startswith((".", "'")):
        line = "\\&" + line
    return line


def main(argv):
    at = argv.index("--")
    output, name, summary, see_also, stream = argv[:at]
    command = argv[at + 1:]
    r = subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    usage = r.stdout if stream == "stdout" else r.stderr
    if not usage.strip():
        print(f"make_man_page.py: {' '.join(command)} printed no usage on {stream}",
              file=sys.stderr)
        return 1
    lines = [
        f'.TH {name.upper()} 1 "" "skyloom" "User Commands"',
        ".SH NAME",
        f"{name} \\- {summary}",
        ".SH USAGE",
        "The text below is the program's own usage message.",
        ".PP",
        ".nf",
        ".ft CR",
    ]
    lines += [roff_escape(line) for line in usage.rstrip("\n").split("\n")]
    lines += [".ft R", ".fi", ".SH SEE ALSO", ", ".join(
        f"\\fB{page}\\fR(1)" for page in see_also.split(",") if page)]
    text = "\n".join(lines) + "\n"
    partial = output + ".partial"
    with open(partial, "w") as f:
        f.write(text)
    os.replace(partial, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
