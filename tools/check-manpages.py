#!/usr/bin/env python3
"""Keeps the manual page qk-cli(1) in step with `qk-cli --help`: every command and option the
program prints appears in the page, and every option the page names is one the program prints.
Both pages must also format without warnings when man is at hand.

usage: check-manpages.py DOC_DIR QK_CLI
"""
import re
import shutil
import subprocess
import sys

# An option: one or two minus signs and a lower-case word, not inside a longer word.
OPTION = re.compile(r"(?<![\w-])(--[a-z][a-z0-9-]*|-[a-z])(?![\w-])")
# Accepted by qk-cli beside its usage, which it prints.
HELP_OPTIONS = {"--help", "-h"}


def roff_text(source):
    """The page's text with comments, font changes and escaped minus signs resolved."""
    lines = [l for l in source.splitlines() if not l.startswith('.\\"')]
    text = "\n".join(lines)
    text = text.replace("\\-", "-")
    text = re.sub(r"\\f[BIRP]", "", text)
    return text


def sections(text):
    """Section name -> its lines, from the .SH macros."""
    result = {}
    name = ""
    for line in text.splitlines():
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
            result[name] = []
        else:
            result.setdefault(name, []).append(line)
    return result


def tagged_items(lines):
    """The first word of each tag line after .TP (the item names of a tagged list)."""
    items = []
    for i, line in enumerate(lines[:-1]):
        if line.strip() == ".TP":
            tag = re.sub(r"^\.[A-Z]+\s+", "", lines[i + 1]).strip().strip('"')
            if tag:
                items.append(tag.split()[0])
    return items


def usage_commands(usage):
    commands = set()
    for line in usage.splitlines():
        m = re.match(r"\s*qk-cli\s+([a-z0-9|]+)", line)
        if m:
            commands.update(m.group(1).split("|"))
    return commands


def check_qk_cli(doc_dir, qk_cli):
    errors = []
    usage = subprocess.run([qk_cli, "--help"], capture_output=True, text=True, check=True).stdout
    with open(f"{doc_dir}/qk-cli.1", encoding="utf-8") as f:
        page = roff_text(f.read())
    parts = sections(page)
    for needed in ("NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "OPTIONS", "EXIT STATUS"):
        if needed not in parts:
            errors.append(f"qk-cli.1: no section {needed}")

    help_options = set(OPTION.findall(usage))
    page_options = set(OPTION.findall(page))
    listed_options = set(OPTION.findall("\n".join(parts.get("OPTIONS", []))))
    for option in sorted(help_options - listed_options):
        errors.append(f"qk-cli.1: option {option} of --help is not in OPTIONS")
    for option in sorted(page_options - help_options - HELP_OPTIONS):
        errors.append(f"qk-cli.1: option {option} is not in qk-cli --help")

    help_commands = usage_commands(usage)
    page_commands = set(tagged_items(parts.get("COMMANDS", [])))
    for command in sorted(help_commands - page_commands):
        errors.append(f"qk-cli.1: command {command} of --help is not in COMMANDS")
    for command in sorted(page_commands - help_commands):
        errors.append(f"qk-cli.1: command {command} is not in qk-cli --help")
    if not help_options or not help_commands:
        errors.append("qk-cli --help lists no options or no commands")
    return errors


def check_formatting(doc_dir):
    man = shutil.which("man")
    if man is None:
        return []
    errors = []
    for page in ("qk.1", "qk-cli.1"):
        run = subprocess.run([man, "--warnings", "-l", f"{doc_dir}/{page}"],
                             capture_output=True, text=True,
                             env={"MANWIDTH": "80", "PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"})
        if run.returncode != 0 or run.stderr.strip():
            errors.append(f"{page}: man reports: {run.stderr.strip() or run.returncode}")
    return errors


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    errors = check_qk_cli(sys.argv[1], sys.argv[2]) + check_formatting(sys.argv[1])
    for e in errors:
        print(e, file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
