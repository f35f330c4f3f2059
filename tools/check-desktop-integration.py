#!/usr/bin/env python3
"""Checks what the package gives the desktop.

  entries  DATA_DIR                  every desktop entry and service menu passes
                                     desktop-file-validate; the entries run qk with the right
                                     switch and the service menus are executable
  mime     DATA_DIR QK_CLI [DIR...]  the type application/x-qk-encrypted, installed into a scratch
                                     data folder with update-mime-database, is what GLib (gio)
                                     reports for real containers of every generation and cipher
                                     (made with QK_CLI, plus any files in the DIRs), and not for
                                     files that only look alike

A missing tool skips the check (exit status 77) and says which.
"""
import configparser
import os
import shutil
import stat
import subprocess
import sys
import tempfile

SKIP = 77
TYPE = "application/x-qk-encrypted"


def skip(reason):
    print(f"SKIPPED: {reason}")
    return SKIP


def desktop_files(data_dir):
    files = []
    for root, _, names in os.walk(data_dir):
        files += [os.path.join(root, n) for n in sorted(names) if n.endswith(".desktop")]
    return sorted(files)


def read_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return parser


def check_entries(data_dir):
    validate = shutil.which("desktop-file-validate")
    if validate is None:
        return skip("desktop-file-validate is not installed (package desktop-file-utils)")
    errors = []
    files = desktop_files(data_dir)
    if not files:
        errors.append(f"no desktop entries under {data_dir}")
    for path in files:
        run = subprocess.run([validate, path], capture_output=True, text=True)
        # Hints are suggestions; errors and warnings count.
        problems = [l for l in (run.stdout + run.stderr).splitlines() if ": hint:" not in l]
        if run.returncode != 0 or problems:
            errors.append(f"{path}: " + "; ".join(problems or [f"exit {run.returncode}"]))

    # What each entry runs, and for which types.
    expected = {
        "qk.desktop": ("qk -- %F", None),
        "qk-decrypt.desktop": ("qk -D -- %F", TYPE + ";"),
        "qk-encrypt.desktop": ("qk -E -- %F", "application/octet-stream;text/plain;inode/directory;"),
        "qk-wipe.desktop": ("qk -W -- %F", "application/octet-stream;text/plain;inode/directory;"),
    }
    for name, (exec_line, mime) in expected.items():
        path = os.path.join(data_dir, name)
        if not os.path.exists(path):
            errors.append(f"{name} is missing")
            continue
        entry = read_entry(path)["Desktop Entry"]
        if entry.get("Exec") != exec_line:
            errors.append(f"{name}: Exec={entry.get('Exec')}, expected {exec_line}")
        if entry.get("MimeType") != mime:
            errors.append(f"{name}: MimeType={entry.get('MimeType')}, expected {mime}")
        if name != "qk.desktop":
            if entry.get("NoDisplay") != "true":
                errors.append(f"{name}: shows in the menu")
            if "Name[en]" not in entry or not any(ord(c) > 0x3000 for c in entry.get("Name", "")):
                errors.append(f"{name}: needs a Japanese Name and Name[en]")

    menus = [p for p in files if os.sep + "kio" + os.sep in p]
    actions = {}
    for path in menus:
        if not os.stat(path).st_mode & stat.S_IXUSR:
            errors.append(f"{path}: a service menu must be executable")
        entry = read_entry(path)
        for section in entry.sections():
            if section.startswith("Desktop Action "):
                actions[section[len("Desktop Action "):]] = entry[section].get("Exec")
    for action, exec_line in (("encrypt", "qk -E -- %F"), ("decrypt", "qk -D -- %F"),
                              ("wipe", "qk -W -- %F")):
        if actions.get(action) != exec_line:
            errors.append(f"service menu action {action}: Exec={actions.get(action)}")

    for e in errors:
        print(e, file=sys.stderr)
    return 1 if errors else 0


def make_containers(qk_cli, folder):
    """Containers of generation 5 for every cipher, with and without the tamper code, and the
    generations 3 and 4 by their markers (the type looks at the marker only)."""
    made = []
    source = os.path.join(folder, "plain.txt")
    for algorithm in ("twofish", "rijndael", "gost"):
        for code in ("--tamper-code", "--no-tamper-code"):
            with open(source, "wb") as f:
                f.write(b"plain text of the test\n" * 8)
            out = os.path.join(folder, f"v5-{algorithm}{code}")
            subprocess.run([qk_cli, "encrypt", "--ini", os.path.join(folder, "none.ini"),
                            "--password", "a long test password", "--algorithm", algorithm,
                            code, "-o", out, source],
                           check=True, capture_output=True)
            made.append(out)
    with open(made[1], "rb") as f:
        v5 = f.read()
    for generation in (b"3", b"4"):
        # V3 and V4 have no tamper flag after the marker.
        data = b"ENCRYPTED BY V" + generation + b".X QK" + v5[21:]
        path = os.path.join(folder, f"v{generation.decode()}")
        with open(path, "wb") as f:
            f.write(data)
        made.append(path)
    return made


LOOK_ALIKES = {
    "wrong-end": b"ENCRYPTED BY V5.X QQ" + b"\x01" * 64,
    "shifted": b" ENCRYPTED BY V5.X QK" + b"\x01" * 64,
    "v2": b"ENCRYPTED BY V2.X QK" + b"\x01" * 64,
    "unversioned": b"ENCRYPTED BY QK\x00\x00\x00\x00\x00" + b"\x01" * 64,
    "lower-case": b"encrypted by v5.x qk" + b"\x01" * 64,
    "cut-short": b"ENCRYPTED BY V5.X Q",
    "marker-later": b"\x01" * 64 + b"ENCRYPTED BY V5.X QK",
    "other-version": b"ENCRYPTED BY V6.X QK" + b"\x01" * 64,
}


def is_container_marker(head):
    """The rule the type's magic encodes: "ENCRYPTED BY V", a readable generation, " QK"."""
    return head[:14] == b"ENCRYPTED BY V" and head[14:15] in (b"3", b"4", b"5") and \
        head[17:20] == b" QK"


def gio_type(gio, env, path):
    run = subprocess.run([gio, "info", "-a", "standard::content-type", path],
                         capture_output=True, text=True, env=env)
    for line in run.stdout.splitlines():
        if "standard::content-type:" in line:
            return line.split(":", 3)[-1].strip()
    return f"(gio: {run.stderr.strip()})"


def check_mime(data_dir, qk_cli, extra_dirs):
    update = shutil.which("update-mime-database")
    gio = shutil.which("gio")
    if update is None:
        return skip("update-mime-database is not installed (package shared-mime-info)")
    if gio is None:
        return skip("gio is not installed (package libglib2.0-bin)")
    errors = []
    with tempfile.TemporaryDirectory() as scratch:
        packages = os.path.join(scratch, "data", "mime", "packages")
        os.makedirs(packages)
        shutil.copy(os.path.join(data_dir, "qk.xml"), packages)
        subprocess.run([update, os.path.join(scratch, "data", "mime")], check=True,
                       capture_output=True)
        env = dict(os.environ)
        env["XDG_DATA_HOME"] = os.path.join(scratch, "data")
        env["XDG_DATA_DIRS"] = "/usr/share"
        env.pop("GIO_USE_VFS", None)

        files = os.path.join(scratch, "files")
        os.makedirs(files)
        containers = make_containers(qk_cli, files)
        # Known-answer files: those with the marker of a readable generation are containers
        # (also the malformed ones, which QK refuses with a reason); the rest (generation 2,
        # the unversioned marker, a marker cut short or elsewhere) only look alike.
        look_alikes = dict(LOOK_ALIKES)
        for folder in extra_dirs:
            if not os.path.isdir(folder):
                continue
            for name in sorted(os.listdir(folder)):
                if not name.endswith(".enc"):
                    continue
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    head = f.read(20)
                if is_container_marker(head):
                    copy = os.path.join(files, "known-" + name[:-4])
                    shutil.copy(path, copy)
                    containers.append(copy)
                else:
                    with open(path, "rb") as f:
                        look_alikes["known-" + name[:-4]] = f.read()
        if len(containers) < 8:
            errors.append(f"only {len(containers)} containers to check")
        for path in containers:
            # Without an extension, with the standard one, with a name the system does not
            # know, and with a name several types claim (".gpg"): there the content decides,
            # because the match's priority is 80 or more. (A name that exactly one other type
            # claims, such as ".bmp", GLib trusts without looking at the content.)
            for suffix in ("", ".enc", ".qkdata", ".gpg"):
                named = path + suffix
                if suffix:
                    shutil.copy(path, named)
                got = gio_type(gio, env, named)
                if got != TYPE:
                    errors.append(f"{os.path.basename(named)}: {got}, expected {TYPE}")
        for name, data in look_alikes.items():
            path = os.path.join(files, "look-alike-" + name)
            with open(path, "wb") as f:
                f.write(data)
            got = gio_type(gio, env, path)
            if got == TYPE or got.startswith("(gio"):
                errors.append(f"look-alike {name}: {got}")

        print(f"{len(containers)} containers and {len(look_alikes)} look-alikes checked")

        # The comment in both languages and the icon name come from the installed type.
        with open(os.path.join(scratch, "data", "mime", "application", "x-qk-encrypted.xml"),
                  encoding="utf-8") as f:
            installed = f.read()
        for needed in ('xml:lang="ja"', "QK encrypted file", "application-x-qk-encrypted"):
            if needed not in installed:
                errors.append(f"installed type lacks {needed}")
    for e in errors:
        print(e, file=sys.stderr)
    return 1 if errors else 0


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "entries":
        return check_entries(sys.argv[2])
    if len(sys.argv) >= 4 and sys.argv[1] == "mime":
        return check_mime(sys.argv[2], sys.argv[3], sys.argv[4:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
