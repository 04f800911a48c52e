#!/usr/bin/env python3
"""Makes the dependency archive of a Java patch as the management server serves
it: a zip whose "oracle" folder holds the installer's cached files, plus one
file beside that folder (which the program must not stage). The same files are
also written unpacked into a tree folder, so a test can compare what was staged.

    make_archive.py --zip OUT.zip [--tree DIR] [--size BYTES]

--size sets the size of the big cabinet file (default 500000 bytes, so that the
whole archive needs two blocks of a bandwidth-limited download at 1024 KBps).
The content is the same for the same size on every run."""
import argparse
import os
import random
import shutil
import zipfile


def entries(cab_size):
    rnd = random.Random(20190115)
    msi = rnd.randbytes(300000)
    cab = rnd.randbytes(cab_size)
    cfg = ("INSTALL_SILENT=Enable\nAUTO_UPDATE=Disable\nWEB_JAVA=Enable\n"
           "WEB_ANALYTICS=Disable\nREBOOT=Disable\n").encode()
    readme = b"Cached installer files of Java 8 Update 202 (64-bit).\n"
    notes = b"Release notes of the dependency package; not part of the staged files.\n"
    return [
        ("oracle/Java/jre1.8.0_202/jre1.8.0_20264.msi", msi, zipfile.ZIP_STORED),
        ("oracle/Java/jre1.8.0_202/Data1.cab", cab, zipfile.ZIP_STORED),
        ("oracle/Java/installer.cfg", cfg, zipfile.ZIP_DEFLATED),
        ("oracle/readme.txt", readme, zipfile.ZIP_DEFLATED),
        ("setup-notes.txt", notes, zipfile.ZIP_DEFLATED),
    ]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zip", required=True)
    parser.add_argument("--tree")
    parser.add_argument("--size", type=int, default=500000)
    args = parser.parse_args()

    items = entries(args.size)
    os.makedirs(os.path.dirname(os.path.abspath(args.zip)), exist_ok=True)
    tmp = args.zip + ".part"
    with zipfile.ZipFile(tmp, "w") as z:
        for name, data, method in items:
            info = zipfile.ZipInfo(name, date_time=(2019, 1, 15, 12, 0, 0))
            info.compress_type = method
            info.external_attr = 0o644 << 16
            z.writestr(info, data)
    os.replace(tmp, args.zip)

    if args.tree:
        shutil.rmtree(args.tree, ignore_errors=True)
        for name, data, _ in items:
            path = os.path.join(args.tree, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
