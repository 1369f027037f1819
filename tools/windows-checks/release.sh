#!/bin/bash
# tools/release.sh, run twice on two copies of the tree: bit-identical
# programs and archives, archive contents and checksums, and README.txt
# with the words administrators look for; its refusal of a tree with changes
# not committed; and, first, the documents against the code.
set -uo pipefail
if [ $# -gt 0 ]; then
    echo "usage: $0" >&2
    exit 2
fi
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

# --- the documents ------------------------------------------------------------

# The documents against the code, one kind of fact at a time.
documents_hold() {
    python3 -B - "$1" <<'PYTHON'
import glob
import os
import re
import sys

# One rule, named by the argument: prints each fact of the documents that
# does not hold in the sources.
DOCUMENTS = ["README.md"] + sorted(glob.glob("docs/*.md")) + ["resources/README-admin.txt"]
SYSTEM = [path for folder in ("front", "host", "report", "profiles")
          for path in glob.glob(folder + "/**/*.*", recursive=True)]
SOURCE_FOLDERS = ("front", "host", "report", "profiles", "platform", "resources", "cmake", "tests", "tools", "docs")


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


system_text = "".join(read(path) for path in SYSTEM)
windows_errors = {int(code) for code in
                  re.findall(r"^#define ERROR_\w+ (\d+)L$", read("platform/include/windows.h"), re.M)}
own_codes = {int(code) for code in re.findall(r"\bk\w+ = (\d+)[;,]", system_text)}
message_ids = {int(i) for i in re.findall(r"^MessageId=(\d+)$", read("resources/Messages.mc"), re.M)}
event_types = {}
for kind, event in re.findall(r"\{EVENTLOG_(\w+)_TYPE, (\d+)\}", read("report/ReportError.cpp")):
    event_types.setdefault(int(event), set()).add(kind.lower())
programs = re.findall(r'^    "(\w+)\|', read("profiles/CMakeLists.txt"), re.M)
wine_cases = re.findall(r'\("(\w+)", (?:self\.|lambda)', read("tests/wine/wine_e2e.py"))
repository_files = {os.path.basename(path) for folder in SOURCE_FOLDERS
                    for path in glob.glob(folder + "/**/*", recursive=True)}


def slug(heading):
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def tables(text):
    """Each table as (header cells, rows of cells)."""
    found = []
    lines = text.splitlines()
    for i, line in enumerate(lines):
        if line.startswith("|") and i + 1 < len(lines) and re.match(r"^\|(-+\|)+$", lines[i + 1]):
            rows = []
            for row in lines[i + 2:]:
                if not row.startswith("|"):
                    break
                rows.append([cell.strip() for cell in row.strip("|").split("|")])
            found.append(([cell.strip() for cell in line.strip("|").split("|")], rows))
    return found


# --- the rules: (what, check) where check(document, text) yields failures --------

def commands_exist(document, text):
    for command in sorted(set(re.findall(r"(?<![\w/.])((?:tools|tests)/[\w/.-]+\.(?:sh|py))", text))):
        if not os.path.isfile(command):
            yield "%s names %s, which does not exist" % (document, command)
        elif command.endswith(".sh") and not os.access(command, os.X_OK):
            yield "%s names %s, which is not executable" % (document, command)


def options_exist(document, text):
    for line in text.splitlines():
        for command, rest in re.findall(r"((?:tools|tests)/[\w/.-]+\.(?:sh|py))((?: +[^ #`|]+)*)", line):
            if not os.path.isfile(command):
                continue
            script = read(command)
            # A script that hands its arguments on: the options of what it runs count too.
            for named in re.findall(r"(?:tools|tests)/[\w/.-]+\.py", script):
                if os.path.isfile(named):
                    script += read(named)
            words = rest.split()
            for i, word in enumerate(words):
                option = re.match(r"^(--?[a-z][\w-]*)", word)
                if option and option.group(1) not in script:
                    yield "%s: %s has no option %s" % (document, command, option.group(1))
                if word == "--only" and i + 1 < len(words) and words[i + 1] not in wine_cases:
                    yield "%s: the Wine driver has no case %s (it has %s)" % (document, words[i + 1],
                                                                           ", ".join(wine_cases))


def links_hold(document, text):
    headings = {slug(h) for h in re.findall(r"^#+ (.*)$", text, re.M)}
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"^[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        if path and not os.path.exists(os.path.join(os.path.dirname(document), path)):
            yield "%s links to %s, which does not exist" % (document, path)
        if not path and anchor not in headings:
            yield "%s links to #%s, which is no heading of it" % (document, anchor)


def events_exist(document, text):
    for header, rows in tables(text):
        if header[0] != "Event":
            continue
        for row in rows:
            event, kind = int(row[0]), row[1]
            if event not in message_ids or event not in event_types:
                yield "%s: event %d is not in Messages.mc and ReportError.cpp" % (document, event)
            elif kind not in event_types[event]:
                yield "%s: event %d is never of type %s" % (document, event, kind)
            if "](" not in row[2] and row[2] not in system_text:
                yield "%s: event %d's message \"%s\" is not in the code" % (document, event, row[2])
    for event in re.findall(r"\bevent(?: id)? (\d+)\b", text):
        if int(event) not in event_types:
            yield "%s mentions event %s, which the code never writes" % (document, event)


def known_code(code):
    return code == 0 or code in windows_errors or code in own_codes


def exit_codes_exist(document, text):
    for header, rows in tables(text):
        if header[0] == "Exit code":
            for row in rows:
                if not known_code(int(row[0])):
                    yield "%s: exit code %s is no error the code knows" % (document, row[0])
        for row in rows:
            for code in re.findall(r"exit code (\d{3,})", " ".join(row)):
                if not known_code(int(code)):
                    yield "%s: exit code %s is no error the code knows" % (document, code)
    if document.endswith(".txt"):
        for code in re.findall(r"^ {0,11}(\d{3,})  ", text, re.M):
            if not known_code(int(code)):
                yield "%s: exit code %s is no error the code knows" % (document, code)


def file_names_exist(document, text):
    for _, rows in tables(text):
        for token in re.findall(r"`([^`\s]+)`", " ".join(" ".join(row) for row in rows)):
            name = token.rstrip("/")
            top = name.split("/")[0]
            if "/" in name:
                # A path of the sources exists; build outputs (build/, dist/) are not checked.
                if top in SOURCE_FOLDERS and "<" not in name and not os.path.exists(name):
                    yield "%s: %s does not exist" % (document, name)
            elif re.search(r"\.(cpp|h|py|sh|mc|in|cmake)$", name) and "/" not in name:
                if name not in repository_files:
                    yield "%s: no file %s in the sources" % (document, name)
            elif re.search(r"\.(dll|init|log|jar|exe)$", name, re.I):
                if re.match(r"^(\w+)\.exe$", name) and name[:-4] in programs:
                    continue
                for piece in re.split(r"<[^>]*>|\*|\\", name):
                    if len(piece) >= 3 and piece.lower() not in system_text.lower():
                        yield "%s: %s is no file name the code uses (%s)" % (document, token, piece)
                        break


RULES = {"commands": commands_exist, "options": options_exist, "links": links_hold, "events": events_exist,
         "exit-codes": exit_codes_exist, "file-names": file_names_exist}

# What readers see: HTML comments (the places where more is to come) left out.
shown = {document: re.sub(r"<!--.*?-->", "", read(document), flags=re.S) for document in DOCUMENTS}
found = [failure for document in DOCUMENTS for failure in RULES[sys.argv[1]](document, shown[document])]
for failure in found:
    print("  " + failure)
sys.exit(1 if found else 0)
PYTHON
}

document_checks() {
    local rule what
    while IFS='|' read -r rule what; do
        check "the documents: $what" documents_hold "$rule"
    done <<'RULES'
commands|every tools/ and tests/ command they name exists
options|every option they give such a command is one it takes
links|every link leads somewhere
events|every event is one the code writes, of that type and message
exit-codes|every exit code is one the code returns
file-names|every file name in their tables is one the code uses
RULES
}

# --- the release ----------------------------------------------------------------

# halvern-service-hosts-<version>-<preset>.zip: the one folder with the
# programs in name order, README.txt and SHA256SUMS; regular files of fixed
# modes and, all entries, the time of SOURCE_DATE_EPOCH.
archive_entries_are() {
    python3 -B - "$@" <<'PYTHON'
import sys
import time
import zipfile
archive, folder, epoch, programs = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
stamp = time.gmtime(max(epoch, 315532800))[:6]
stamp = stamp[:5] + (stamp[5] // 2 * 2,)
expected = [(folder + "/", 0o40755, stamp)]
expected += [(folder + "/" + name, 0o100755, stamp) for name in sorted(programs)]
expected += [(folder + "/" + name, 0o100644, stamp) for name in ("README.txt", "SHA256SUMS")]
with zipfile.ZipFile(archive) as zip_file:
    actual = [(info.filename, info.external_attr >> 16, info.date_time) for info in zip_file.infolist()]
if actual != expected:
    sys.exit("  entries %r,\n  expected %r" % (actual, expected))
PYTHON
}

checksums_hold() {
    (cd "$1" && sha256sum --check --strict --quiet SHA256SUMS)
}

same_files() {
    local first=$1 second=$2 name
    shift 2
    for name in "$@"; do
        cmp "$first/$name" "$second/$name" || return 1
    done
}

all_unsigned() {
    local folder=$1 name
    shift
    for name in "$@"; do
        is_unsigned "$folder/$name" || { echo "  $name is signed"; return 1; }
    done
}

readme_is_complete() {
    local readme=$1 word
    grep -q $'\r$' "$readme" || { echo "  not in CR LF lines"; return 1; }
    ! grep -q '@[A-Z]*@' "$readme" || { echo "  unfilled: $(grep -o '@[A-Z]*@' "$readme" | sort -u | tr '\n' ' ')"; return 1; }
    # What administrators look for, as docs/releasing.md lists it.
    for word in "${programs[@]}" "$project_version" install uninstall run check 'sc config AlderSvc start= auto' \
            'bin\server\jvm.dll' 'lib\util\*.jar' -Xbootclasspath/p: -Xbootclasspath/a: \
            'byte-order mark' '50 options' '511 bytes' \
            'event id 2' 'sc query AlderSvc' 'Stuck in "Starting"' 'taskkill /F /FI "SERVICES eq AlderSvc"' \
            'sc failure AlderSvc' 'sc failureflag AlderSvc 1' 'without limit' \
            'event 3' 'event 4' 'event 5' 'event 6' 1056 1060 1072 1073 1113 'demand start'; do
        grep -qF -- "$word" "$readme" || { echo "  does not mention $word"; return 1; }
    done
}

# tools/release.sh in a git work tree with a change not committed: refused
# before anything is built, naming the change.
refuses_a_dirty_tree() {
    local tree=$work/dirty said code
    mkdir -p "$tree" && cp -a "$work/a/src/." "$tree" && git -C "$tree" init -q && git -C "$tree" add -A &&
        git -C "$tree" -c user.name=check -c user.email=check@localhost commit -qm tree || return 1
    echo "a change" >>"$tree/README.md"
    said=$("$tree/tools/release.sh" --out "$tree/out" --build "$tree/build" 2>&1)
    code=$?
    if [ $code -ne 1 ] || ! grep -q "M README.md" <<<"$said" || [ -e "$tree/build" ] || [ -e "$tree/out" ]; then
        echo "  exit code $code, said:"
        sed 's/^/    /' <<<"$said"
        return 1
    fi
}

release_checks() {
    local epoch copy preset folder archive
    work=$(mktemp -d "${TMPDIR:-/tmp}/halvern-release-check.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
    # Two copies of this tree, taken at once, in folders of different names
    # and depths: a path of the build machine inside a program or an archive
    # shows up as a difference.
    mkdir -p "$work/a/src" "$work/second/b/src"
    tar -c --exclude=./build --exclude=./dist --exclude=./.git . | tar -x -C "$work/a/src"
    cp -a "$work/a/src/." "$work/second/b/src"
    check "tools/release.sh refuses a tree with a change not committed" refuses_a_dirty_tree
    for copy in a second/b; do
        check "tools/release.sh in $copy" env SOURCE_DATE_EPOCH="$epoch" \
            "$work/$copy/src/tools/release.sh" --out "$work/$copy/out" --build "$work/$copy/build" >/dev/null ||
            return
    done
    mapfile -t programs < <(cd "$work/a/build/win64/dist" && ls)
    for preset in win32 win64; do
        folder=halvern-service-hosts-$project_version-$preset
        archive=$folder.zip
        check "$preset programs built twice are bit-identical" \
            same_files "$work/a/build/$preset/dist" "$work/second/b/build/$preset/dist" "${programs[@]}"
        check "$archive built twice is bit-identical" same_files "$work/a/out" "$work/second/b/out" "$archive"
        check "$archive: its entries" archive_entries_are "$work/a/out/$archive" "$folder" "$epoch" "${programs[@]}"
        mkdir -p "$work/unpacked/$preset"
        check "$archive unpacks" python3 -m zipfile -e "$work/a/out/$archive" "$work/unpacked/$preset" || continue
        check "$archive: SHA256SUMS holds for its files" checksums_hold "$work/unpacked/$preset/$folder"
        check "$archive: the programs of the build" \
            same_files "$work/unpacked/$preset/$folder" "$work/a/build/$preset/dist" "${programs[@]}"
        check "$archive: unsigned programs" all_unsigned "$work/unpacked/$preset/$folder" "${programs[@]}"
        check "$archive: README.txt for administrators" readme_is_complete "$work/unpacked/$preset/$folder/README.txt"
    done
    check "the archives' SHA256SUMS holds" checksums_hold "$work/a/out"
    check "SHA256SUMS built twice is bit-identical" same_files "$work/a/out" "$work/second/b/out" SHA256SUMS
}

objdump=x86_64-w64-mingw32-objdump  # reads both PE formats
document_checks
release_checks
summary
