#!/usr/bin/env python3
"""Writes the manual page of varilume-cli from the program's own --help texts.

The program is run as "varilume-cli --help" and, for every command its help lists, as
"varilume-cli <command> --help"; the texts become the page's sections, so the page says
what the program says and nothing else.

    cli-manpage.py --program build/src/cli/varilume-cli --version 4.0.1 --date 2026-12-10 -o varilume-cli.1
"""

import argparse
import re
import subprocess
import sys

OPTION = re.compile(r"^ {2,}(-\S.*?)(?: {2,}(\S.*))?$")  # "  -o, --output <file>    Where ..."


def run_help(program, *args):
    result = subprocess.run([program, *args, "--help"], capture_output=True, text=True, check=False)
    if result.returncode != 0 or not result.stdout.strip():
        sys.exit(f"cli-manpage: \"{' '.join([program, *args, '--help'])}\" failed: {result.stderr.strip()}")
    return result.stdout


def escape(text):
    """Text for roff: backslashes, leading dots and quotes, and real minus signs."""
    text = text.replace("\\", "\\e")
    text = re.sub(r"(?<![\w-])-", r"\\-", text)  # options and dashes that start a word
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def commands_of(main_help):
    """The command names listed under "Commands:", with their one-line descriptions."""
    commands = []
    listing = False
    for line in main_help.splitlines():
        if line.strip() == "Commands:":
            listing = True
            continue
        if listing:
            match = re.match(r"^ {2}(\S+) {2,}(\S.*)$", line)
            if not match:
                break
            commands.append((match.group(1), match.group(2)))
    return commands


def usage_and_body(help_text):
    """Splits off the "Usage:" line and its indented continuation lines."""
    lines = help_text.rstrip("\n").splitlines()
    usage = []
    while lines and (not usage and lines[0].startswith("Usage: ") or usage and lines[0].startswith("   ")):
        usage.append(lines.pop(0))
    if usage:
        usage[0] = usage[0][len("Usage: "):]
    return usage, lines


def body_to_roff(lines):
    """Paragraphs, option lists (.TP) and indented blocks kept as they are (.nf)."""
    out = []
    i = 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
            continue
        option = OPTION.match(line)
        if option:
            out.append(".TP")
            out.append(".B " + escape(option.group(1)))
            text = [option.group(2)] if option.group(2) else []
            i += 1
            # Continuation lines are indented further than the option and start no option.
            while i < len(lines) and lines[i].startswith("    ") and not OPTION.match(lines[i]):
                text.append(lines[i].strip())
                i += 1
            out.append(escape(" ".join(text)))
            continue
        if line.startswith("  "):
            out.append(".PP")
            out.append(".RS 4")
            out.append(".nf")
            while i < len(lines) and lines[i].startswith("  ") and not OPTION.match(lines[i]):
                out.append(escape(lines[i][2:]))
                i += 1
            out.append(".fi")
            out.append(".RE")
            continue
        out.append(".PP")
        paragraph = []
        while i < len(lines) and lines[i].strip() and not lines[i].startswith("  "):
            paragraph.append(lines[i].strip())
            i += 1
        out.append(escape(" ".join(paragraph)))
    return out


def synopsis(usage_lines):
    out = [".nf"]
    out += [escape(line.strip() if n else line) for n, line in enumerate(usage_lines)]
    out.append(".fi")
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--date", required=True)
    parser.add_argument("-o", "--output", required=True)
    args = parser.parse_args()

    main_help = run_help(args.program)
    commands = commands_of(main_help)
    if not commands:
        sys.exit("cli-manpage: the program's help lists no commands")
    usage, body = usage_and_body(main_help)
    # The first sentence of the description names the program.
    text = " ".join(line.strip() for line in body)
    summary = text.strip().split(". ")[0].rstrip(".")
    if not summary:
        sys.exit("cli-manpage: the program's help has no description")

    page = [
        f'.TH VARILUME-CLI 1 "{args.date}" "Varilume {args.version}" "User Commands"',
        ".SH NAME",
        "varilume-cli \\- " + escape(summary[0].lower() + summary[1:]),
        ".SH SYNOPSIS",
    ]
    page += synopsis(usage)
    page.append(".SH DESCRIPTION")
    page += body_to_roff(body)
    page.append(".SH COMMANDS")
    for name, _ in commands:
        command_usage, command_body = usage_and_body(run_help(args.program, name))
        page.append(".SS " + escape(name))
        page += synopsis(command_usage)
        page += body_to_roff(command_body)

    with open(args.output, "w", encoding="utf-8") as out:
        out.write("\n".join(page) + "\n")


if __name__ == "__main__":
    main()
