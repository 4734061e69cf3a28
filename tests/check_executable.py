#!/usr/bin/python3
"""Usage: tests/check_executable.py [--machine i386|amd64] [--icon app/res/pindral.ico] PATH/TO/pindral.exe

Checks what the compiler and linker can get wrong without any test program
noticing: the machine and subsystem, that the program needs no DLL beyond
Windows' own, the status dialog's template byte for byte, and the icon groups
the shell shows. Needs Debian's python3-pefile, hence /usr/bin/python3 rather
than whichever python3 is first on the PATH. Exits non-zero if any check fails.
"""
import argparse
import re
import struct
import sys

try:
    import pefile
except ImportError:
    print("FAIL pefile is missing: apt-get install python3-pefile, run with /usr/bin/python3\n0 passed, 1 failed")
    sys.exit(1)

MACHINES = {"i386": (0x014C, 0x10B), "amd64": (0x8664, 0x20B)}  # machine, optional-header magic
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
RT_ICON, RT_DIALOG, RT_GROUP_ICON = 3, 5, 14
EN_US = 0x0409
DIALOG_ID, ICON_GROUPS = 129, (107, 108)
ICON_IMAGES = [(16, 16, 4), (32, 32, 4), (16, 16, 8), (32, 32, 8), (48, 48, 8),
               (16, 16, 32), (32, 32, 32), (48, 48, 32)]  # (width, height, bits per pixel), in order
# Windows' own DLLs; anything else (libstdc++-6, libgcc_s_*, libwinpthread-1, ...)
# would have to be shipped beside the program.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "dinput8.dll", "msvcrt.dll", "ucrtbase.dll",
               "advapi32.dll", "ntdll.dll", "shell32.dll", "ole32.dll", "comctl32.dll", "winmm.dll"}


def pack(fmt, value):
    return struct.pack("<" + fmt, value)


def text(s):
    return s.encode("utf-16-le") + b"\0\0"


# DLGTEMPLATEEX, in template order.
DIALOG_HEADER = [
    ("dlgVer", pack("H", 1)),
    ("signature", pack("H", 0xFFFF)),              # marks the extended template
    ("helpID", pack("I", 0)),
    ("exStyle", pack("I", 0x00000080)),            # WS_EX_TOOLWINDOW
    ("style", pack("I", 0x80C800C8)),              # WS_POPUP|WS_CAPTION|WS_SYSMENU|DS_MODALFRAME|DS_SETFONT|DS_FIXEDSYS
    ("cDlgItems", pack("H", 1)),
    ("x", pack("h", 0)),
    ("y", pack("h", 0)),
    ("cx", pack("h", 133)),
    ("cy", pack("h", 31)),
    ("menu", pack("H", 0)),                        # none
    ("windowClass", pack("H", 0)),                 # the system dialog class
    ("title", text("Pindral")),
    ("pointsize", pack("H", 8)),
    ("weight", pack("H", 400)),                    # FW_NORMAL
    ("italic", pack("B", 0)),
    ("charset", pack("B", 1)),                     # DEFAULT_CHARSET
    ("typeface", text("MS Shell Dlg")),
]
# DLGITEMTEMPLATEEX of the one control, the text the measurement thread writes to.
DIALOG_CONTROL = [
    ("control helpID", pack("I", 0)),
    ("control exStyle", pack("I", 0)),
    ("control style", pack("I", 0x50020000)),      # WS_CHILD|WS_VISIBLE|WS_GROUP|SS_LEFT
    ("control x", pack("h", 3)),
    ("control y", pack("h", 2)),
    ("control cx", pack("h", 117)),
    ("control cy", pack("h", 26)),
    ("control id", pack("I", 0xFFFFFFFF)),         # -1
    ("control class", pack("H", 0xFFFF) + pack("H", 0x0082)),  # by ordinal: 0x0082 is the static class
    ("control title", text("Awaiting input")),
    ("control extra count", pack("H", 0)),
]


def expected_dialog():
    """(field name, offset, bytes) for the whole template."""
    header_size = sum(len(b) for _, b in DIALOG_HEADER)
    fields = DIALOG_HEADER + [("padding to DWORD", b"\0" * (-header_size % 4))] + DIALOG_CONTROL
    out, offset = [], 0
    for name, data in fields:
        out.append((name, offset, data))
        offset += len(data)
    return out


def find_resource(pe, rtype, name, lang):
    """Data of one resource, or None."""
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for t in root.entries if root else []:
        if t.id != rtype:
            continue
        for n in t.directory.entries:
            if n.id != name:
                continue
            for entry in n.directory.entries:
                if entry.id == lang:
                    return pe.get_data(entry.data.struct.OffsetToData, entry.data.struct.Size)
    return None


def imports(pe):
    """{dll name in lower case: [imported names]}, ordinary and delay-loaded."""
    out = {}
    for attr in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for dll in getattr(pe, attr, []):
            out.setdefault(dll.dll.decode().lower(), []).extend(
                (i.name or b"").decode() for i in dll.imports)
    return out


def check_machine(pe, args):
    expected = [args.machine] if args.machine else list(MACHINES)
    actual = (pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic)
    assert any(MACHINES[m] == actual for m in expected), (f"machine 0x{pe.FILE_HEADER.Machine:04X} with optional header magic 0x{pe.OPTIONAL_HEADER.Magic:X}, "
                   f"expected {' or '.join(f'{m} (0x{MACHINES[m][0]:04X}, 0x{MACHINES[m][1]:X})' for m in expected)}")
    assert pe.OPTIONAL_HEADER.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, \
        f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, expected {IMAGE_SUBSYSTEM_WINDOWS_GUI} (Windows GUI)"


def check_directinput_import(pe, args):
    dlls = imports(pe)
    assert "DirectInput8Create" in dlls.get("dinput8.dll", []), \
        f"DirectInput8Create is not imported from DINPUT8.dll; imported DLLs: {sorted(dlls)}"


def check_system_dlls_only(pe, args):
    dlls = imports(pe)
    foreign = [d for d in dlls if d not in SYSTEM_DLLS and not re.fullmatch(r"api-ms-win-.*\.dll", d)]
    assert not foreign, f"imports DLLs that are not Windows' own: {foreign}; imported DLLs: {sorted(dlls)}"


def check_dialog(pe, args):
    data = find_resource(pe, RT_DIALOG, DIALOG_ID, EN_US)
    assert data is not None, f"no RT_DIALOG resource {DIALOG_ID} in language 0x{EN_US:04X}"
    fields = expected_dialog()
    expected = b"".join(f[2] for f in fields)
    # windres (binutils 2.40) emits the template exactly: the resource ends
    # with the control's extra count, 140 bytes. A resource compiler that pads
    # the data to a DWORD would add up to three zeros, which are harmless.
    tail = data[len(expected):]
    if data[:len(expected)] == expected and tail.count(0) == len(tail) < 4:
        return
    diff = [f"  {name} at {off}: expected {want.hex(' ')}, found {data[off:off + len(want)].hex(' ') or 'nothing'}"
            for name, off, want in fields if data[off:off + len(want)] != want]
    if len(data) != len(expected):
        diff.append(f"  size: expected {len(expected)} bytes, found {len(data)} (after the control: {tail.hex(' ')})")
    raise AssertionError("dialog template differs:\n" + "\n".join(diff))


def icon_images(path):
    """The images of an .ico file, in order."""
    with open(path, "rb") as f:
        ico = f.read()
    _, _, count = struct.unpack_from("<HHH", ico)
    entries = (struct.unpack_from("<II", ico, 6 + 16 * i + 8) for i in range(count))
    return [ico[offset:offset + size] for size, offset in entries]


def check_icons(pe, args):
    problems = []
    # The build does not always see that the .ico changed: given the file,
    # the images must be its own, not those of an earlier one.
    source = icon_images(args.icon) if args.icon else None
    for group in ICON_GROUPS:
        data = find_resource(pe, RT_GROUP_ICON, group, EN_US)
        if data is None:
            problems.append(f"no RT_GROUP_ICON {group} in language 0x{EN_US:04X}")
            continue
        reserved, kind, count = struct.unpack_from("<HHH", data)
        entries = [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]
        images = [(w or 256, h or 256, bits) for w, h, _, _, _, bits, _, _ in entries]
        if (reserved, kind) != (0, 1) or images != ICON_IMAGES or len(data) != 6 + 14 * count:
            problems.append(f"group {group}: header ({reserved}, {kind}), images {images}, "
                            f"{len(data)} bytes; expected (0, 1), {ICON_IMAGES}, {6 + 14 * len(ICON_IMAGES)} bytes")
        for n, (w, h, _, _, _, bits, size, icon_id) in enumerate(entries):
            icon = find_resource(pe, RT_ICON, icon_id, EN_US)
            if icon is None or len(icon) != size:
                problems.append(f"group {group}: RT_ICON {icon_id} ({w}x{h}, {bits} bpp) "
                                f"{'missing' if icon is None else f'is {len(icon)} bytes'}, group says {size}")
            elif struct.unpack_from("<IiiHH", icon) != (40, w or 256, 2 * (h or 256), 1, bits):
                problems.append(f"group {group}: RT_ICON {icon_id} header {struct.unpack_from('<IiiHH', icon)} "
                                f"does not describe a {w}x{h} {bits} bpp image")
            elif source and (n >= len(source) or icon != source[n]):
                problems.append(f"group {group}: RT_ICON {icon_id} ({w}x{h}, {bits} bpp) is not image {n} of {args.icon}")
    assert not problems, "\n  ".join(["icons:"] + problems)


CHECKS = [check_machine, check_directinput_import, check_system_dlls_only, check_dialog, check_icons]


def main():
    parser = argparse.ArgumentParser(description="Checks a built pindral.exe.")
    parser.add_argument("exe")
    parser.add_argument("--machine", choices=sorted(MACHINES))
    parser.add_argument("--icon", help="the .ico file the icon groups were built from (app/res/pindral.ico)")
    args = parser.parse_args()
    try:
        pe = pefile.PE(args.exe)
    except (OSError, pefile.PEFormatError) as error:
        print(f"FAIL load {args.exe}: {error}\n0 passed, 1 failed")
        return 1
    failed = 0
    for check in CHECKS:
        name = check.__name__.removeprefix("check_")
        try:
            check(pe, args)
            print(f"PASS {name}")
        except AssertionError as error:
            failed += 1
            print(f"FAIL {name}: {error}")
    print(f"{len(CHECKS) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
