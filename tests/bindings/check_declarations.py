#!/usr/bin/env python3
"""Every function that client.h exports (SSW_API) is exported by the DLL's module definition and
declared in each language binding, with as
many parameters where the binding's declaration shows them, so that a function added to the
header without its bindings fails the suite; C# reads a text that a function returns as the
narrow text it is; and the Go package offers the same functions outside Windows as on it.

Usage: check_declarations.py CLIENT_H BINDINGS_DIR"""
import pathlib
import re
import sys

# Per binding: the files that declare the C API, and how one declaration reads there (the
# function's name, then its parameter list when the language spells one out).
BINDINGS = (
    ("rust", "rust/src/sys.rs", r"\bfn (ssw_\w+)\s*\(([^)]*)\)"),
    ("go", "go/*.go", r"NewProc\(\"(ssw_\w+)\"\)"),
    ("c#", "csharp/*.cs", r"static extern [^(]*?\b(ssw_\w+)\s*\(([^)]*)\)"),
    # What the DLL exports: the module definition beside the C API's sources.
    ("dll", "../src/client/client.def", r"(?m)^\s+(ssw_\w+)\s*$"),
)


# A `const char*` result is the DLL's own narrow text: C# must take it as an IntPtr (a returned
# string would be freed by the marshaller) and read it as ANSI or UTF-8, never as UTF-16.
NARROW_TEXT_RESULT = re.compile(r"SSW_API\s+const\s+char\s*\*\s*(ssw_\w+)\s*\(")
NARROW_READS = ("Ansi", "UTF8")


def csharp_text_result_failures(header, text):
    failures = []
    for name in NARROW_TEXT_RESULT.findall(header):
        declared = re.search(r"static extern\s+(\S+)\s+" + name + r"\s*\(", text)
        reads = re.findall(r"Marshal\.PtrToString(\w+)\(\s*" + name + r"\s*\(", text)
        if declared and declared.group(1) != "IntPtr":
            failures.append(f"{name} returns {declared.group(1)}, not the IntPtr it must read")
        if not reads:
            failures.append(f"{name}: its text is never read through Marshal.PtrToString...")
        failures += [f"{name}: its narrow text is read as PtrToString{read}"
                     for read in reads if read not in NARROW_READS]
    return failures


# An exported Go function or method, up to its body.
GO_SIGNATURE = re.compile(r"^func (?:\(\w+ \*?\w+\) )?[A-Z]\w*\([^)]*\)[^{\n]*", re.MULTILINE)


def go_platform_failures(go_dir):
    windows, elsewhere = ({" ".join(found.split()) for found in GO_SIGNATURE.findall(
        (go_dir / name).read_text(encoding="utf-8"))} for name in ("ssw.go", "ssw_other.go"))
    return ([f"{name}: on Windows only" for name in sorted(windows - elsewhere)] +
            [f"{name}: outside Windows only" for name in sorted(elsewhere - windows)] +
            ([] if windows else ["no exported function found in ssw.go"]))


def parameter_count(parameters):
    parameters = " ".join(parameters.split())
    if parameters in ("", "void"):
        return 0
    return parameters.rstrip(", ").count(",") + 1


def main():
    header = pathlib.Path(sys.argv[1]).read_text(encoding="utf-8")
    bindings_dir = pathlib.Path(sys.argv[2])
    exported = {
        name: parameter_count(parameters)
        for name, parameters in re.findall(r"SSW_API[^;(]*?\b(ssw_\w+)\s*\(([^)]*)\)", header)
    }
    if not exported:
        print("FAIL no SSW_API function found in the header")
        return 1
    failures = 0
    for language, file_pattern, declaration in BINDINGS:
        folder, pattern = (bindings_dir / file_pattern).parent.resolve(), pathlib.Path(file_pattern).name
        text = "".join(path.read_text(encoding="utf-8") for path in sorted(folder.glob(pattern)))
        # Attributes ([MarshalAs(...)]) say how a parameter is passed, not how many there are.
        text = re.sub(r"\[[^\[\]]*\]", "", text)
        failures_before = failures
        declared = {}
        for match in re.finditer(declaration, text):
            declared[match.group(1)] = parameter_count(match.group(2)) if match.lastindex > 1 else None
        for name, count in exported.items():
            if name not in declared:
                print(f"FAIL {language}: {name} is not declared")
                failures += 1
            elif declared[name] is not None and declared[name] != count:
                print(f"FAIL {language}: {name} takes {count} parameters, declared with {declared[name]}")
                failures += 1
        for name in declared.keys() - exported.keys():
            print(f"FAIL {language}: {name} is declared but client.h exports no such function")
            failures += 1
        if language == "c#":
            for failure in csharp_text_result_failures(header, text):
                print(f"FAIL {language}: {failure}")
                failures += 1
        if language == "go":
            for failure in go_platform_failures(bindings_dir / "go"):
                print(f"FAIL {language}: {failure}")
                failures += 1
        if failures == failures_before:
            print(f"ok   {language}: {len(exported)} functions")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
