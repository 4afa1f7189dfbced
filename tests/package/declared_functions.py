"""Prints the functions and variables that the installed headers declare and
leave to the library to define, one per line: mangled name, then header.

    clang++ -std=c++17 -fsyntax-only -Xclang -ast-dump=json -I INCLUDE_DIR all.cpp \\
        | declared_functions.py INCLUDE_DIR

all.cpp includes every installed header. Every name printed must be in the
library's dynamic symbol table, or a consumer that uses it compiles and then
fails to link. Not printed: what the headers define themselves (inline,
constexpr, defaulted or deleted, bodies in the header) and members of class
template instances (they come from the template's definition in the header).

The dump of a translation unit with the standard library runs to hundreds of
megabytes, so it is read one top-level declaration at a time: each is a
JSON object opened and closed by a brace on a line of its own, indented by
four spaces. The dump names a location's file only where it changes from the
location written before, so files are followed in dump order throughout.
"""

import json
import os
import sys

FUNCTIONS = {"FunctionDecl", "CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl", "CXXConversionDecl"}
BODIES = {"CompoundStmt", "CXXTryStmt"}
RECORDS = {"CXXRecordDecl", "ClassTemplateSpecializationDecl"}


class Reader:
    def __init__(self, include_dir):
        self.include_dir = os.path.realpath(include_dir) + os.sep
        self.file = None            # the file of the location written last
        self.required = {}          # mangled name -> header
        self.defined = set()        # mangled names defined in some header

    def follow_files(self, value):
        # "includedFrom" names the including file, not a location.
        if isinstance(value, dict):
            if "file" in value:
                self.file = value["file"]
            for key, item in value.items():
                if key not in ("inner", "includedFrom"):
                    self.follow_files(item)
        elif isinstance(value, list):
            for item in value:
                self.follow_files(item)

    def in_installed_header(self):
        return self.file is not None and os.path.realpath(self.file).startswith(self.include_dir)

    def visit(self, node, parent_kind, in_instance):
        for key, item in node.items():
            if key != "inner":
                self.follow_files(item)
        kind = node.get("kind")
        name = node.get("mangledName")
        if name and not in_instance and self.in_installed_header():
            header = os.path.relpath(os.path.realpath(self.file), self.include_dir)
            if kind in FUNCTIONS:
                self.note_function(node, name, header)
            elif kind == "VarDecl":
                self.note_variable(node, name, header, parent_kind in RECORDS)
        inner_instance = in_instance or kind == "ClassTemplateSpecializationDecl"
        for child in node.get("inner", []):
            self.visit(child, kind, inner_instance)

    def note_function(self, node, name, header):
        if any(child.get("kind") in BODIES for child in node.get("inner", [])):
            self.defined.add(name)
            return
        if any(node.get(flag) for flag in ("isImplicit", "inline", "constexpr", "pure",
                                            "explicitlyDefaulted", "explicitlyDeleted")):
            return
        self.required.setdefault(name, header)

    def note_variable(self, node, name, header, is_member):
        if "init" in node or node.get("inline") or node.get("constexpr"):
            self.defined.add(name)
            return
        storage = node.get("storageClass")
        if storage == "extern" or (is_member and storage == "static"):
            self.required.setdefault(name, header)

    def read(self, lines):
        chunk = None
        for line in lines:
            if chunk is None:
                if line.rstrip("\n") == "    {":
                    chunk = [line]
            else:
                chunk.append(line)
                if line.rstrip("\n") in ("    }", "    },"):
                    text = "".join(chunk).rstrip().rstrip(",")
                    self.visit(json.loads(text), "TranslationUnitDecl", False)
                    chunk = None
        if chunk is not None:
            raise ValueError("the AST dump ends inside a declaration")


def main():
    reader = Reader(sys.argv[1])
    reader.read(sys.stdin)
    if not reader.required and not reader.defined:
        raise SystemExit("declared_functions: no declaration found in the installed headers")
    for name in sorted(set(reader.required) - reader.defined):
        print(name, reader.required[name])


if __name__ == "__main__":
    main()
