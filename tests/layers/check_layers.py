#!/usr/bin/env python3
"""Every link between the project's libraries points down the layers.

Configures the source folder given as the first argument into a scratch folder with CMake's
--graphviz output and checks each dependency between our own targets against the order of
the layers below, top first. A target missing from the list, or a link from a layer to one
above it (or to itself through another target of the same layer), fails with the link named.
"""
import re
import subprocess
import sys
import tempfile

LAYERS = [
    ["kalder", "kalder-load"],
    ["kalder_startup"],
    ["kalder_window"],
    ["kalder_handlers"],
    ["kalder-cells", "kalder_workbook"],
    ["kalder_config"],
    ["kalder_db"],
    ["kalder_readers", "kalder_controls"],
    ["kalder_base"],
    ["kalder_warnings"],
]
LEVEL = {name: level for level, names in enumerate(LAYERS) for name in names}


def main(source: str, generator_args: list[str]) -> int:
    with tempfile.TemporaryDirectory() as build:
        dot = f"{build}/targets.dot"
        subprocess.run(["cmake", "-S", source, "-B", build, f"--graphviz={dot}", "-DKALDER_TESTS=OFF",
                        *generator_args], check=True, stdout=subprocess.DEVNULL)
        text = open(dot, encoding="utf-8").read()
    names = dict(re.findall(r'"(node\d+)" \[ label = "([^"]+)"', text))
    faults = []
    ours = set()
    for a, b in re.findall(r'"(node\d+)" -> "(node\d+)"', text):
        top, bottom = names[a], names[b]
        if not (top.startswith("kalder") and bottom.startswith("kalder")):
            continue
        ours.update((top, bottom))
        for name in (top, bottom):
            if name not in LEVEL:
                faults.append(f"{name} is in no layer")
        if top in LEVEL and bottom in LEVEL and LEVEL[top] >= LEVEL[bottom]:
            faults.append(f"{top} -> {bottom} does not point down")
    for fault in sorted(set(faults)):
        print(fault)
    print(f"{len(ours)} targets checked")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
