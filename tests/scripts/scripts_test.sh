#!/usr/bin/env bash
# Test of the tools' scripts where it is cheap: each is called through a symbolic link from another directory,
# with bash and with sh, and must refuse bad arguments with its usage line and exit code 2 before doing anything;
# then tables of rows for the mirrors tools/fresh_machine.sh reads, the results of tools/test.sh, the link
# launcher, and the install logic of tools/common.sh against stand-ins of the commands that install packages.
# tests/scripts/scripts_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$(readlink -f "$1")
links=$(mktemp -d)
trap 'rm -rf "$links"' EXIT
for script in test fuzz release fresh_machine install_packages vm_image; do
    ln -s "$source_dir/tools/$script.sh" "$links/$script-link.sh"
done
# A PATH with the tools the scripts' first line needs, and no bash.
no_bash=$links/no-bash
mkdir "$no_bash"
ln -s "$(command -v readlink)" "$(command -v dirname)" "$no_bash/"
# The presets test.sh must name: those CMake lists for the checkout.
presets=$(cd "$source_dir" && cmake --list-presets | sed -n 's/^ *"\([^"]*\)".*/\1/p' | paste -sd ' ')

failures=0
# judge LABEL STATUS CODE OUTPUT TEXTS [FAULT]: a row passes when it exited with CODE, its output holds each text
# of TEXTS (separated by ";;"; one that ends in $ must end a line; one that starts with ! must not be there) and no
# FAULT was found.
judge() {
    local label=$1 status=$2 code=$3 output=$4 texts=$5 fault=${6:-} text missing=()
    while IFS= read -r text; do
        if [[ $text == !* ]]; then
            [[ $output != *"${text#!}"* ]] || missing+=("none of \"${text#!}\"")
        elif [[ $text == *\$ ]]; then
            [[ $'\n'$output$'\n' == *"${text%\$}"$'\n'* ]] || missing+=("\"$text\"")
        else
            [[ $output == *"$text"* ]] || missing+=("\"$text\"")
        fi
    done < <(sed 's/;;/\n/g' <<<"$texts")
    [ ${#missing[@]} -eq 0 ] || fault="missing ${missing[*]}${fault:+; $fault}"
    if [ "$status" -ne "$code" ] || [ -n "$fault" ]; then
        echo "FAIL: $label: exit $status, want $code${fault:+; $fault}; output:"
        echo "$output" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: $label: exit $status"
    fi
}
# shell (sh-without-bash: sh where no bash can be found) | script and arguments | exit code | text the output
# must hold
cases=(
    "sh-without-bash|test-link.sh|2|test-link.sh needs bash"
    "bash|test-link.sh bogus|2|unknown preset: bogus"
    "bash|test-link.sh native bogus|2|(presets: $presets; all of them by default)"
    "sh|test-link.sh bogus|2|usage: tools/test.sh [PRESET...]"
    "bash|fuzz-link.sh abc|2|usage: tools/fuzz.sh [SECONDS] [JOBS]"
    "bash|fuzz-link.sh 0|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh 30 0|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh 30 two|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh -30|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh 1.5|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh 30 1 extra|2|usage: tools/fuzz.sh"
    "sh|fuzz-link.sh abc|2|usage: tools/fuzz.sh"
    "bash|fuzz-link.sh --help|0|usage: tools/fuzz.sh"
    "bash|release-link.sh --bogus x|2|usage: tools/release.sh"
    "sh|release-link.sh --sign|2|usage: tools/release.sh"
    "bash|fresh_machine-link.sh|2|usage: tools/fresh_machine.sh"
    "bash|fresh_machine-link.sh sid|2|unknown release: sid"
    "bash|fresh_machine-link.sh --bogus trixie|2|usage: tools/fresh_machine.sh"
    "sh|install_packages-link.sh --now|2|usage: tools/install_packages.sh"
    "bash|vm_image-link.sh --now|2|usage: tools/vm_image.sh [--check]"
)
for case in "${cases[@]}"; do
    IFS='|' read -r shell command code text <<<"$case"
    read -ra words <<<"$command"
    run=("$shell")
    [ "$shell" != sh-without-bash ] || run=(env PATH="$no_bash" /bin/sh)
    output=$(cd / && "${run[@]}" "$links/${words[0]}" "${words[@]:1}" 2>&1)
    judge "$shell $command" $? "$code" "$output" "$text"
done

# The mirrors tools/fresh_machine.sh takes from this machine's apt sources, on a machine of Debian 12 (--dry-run
# says them and stops). A row: the files of /etc/apt (NAME=CONTENT, written with \n, separated by ";;"; NAME under
# sources.list.d unless it is sources.list) | options | exit code | the text the output must hold.
deb822="Types: deb\nURIs: https://mirror.invalid/debian\nSuites: bookworm bookworm-updates\nComponents: main\n\nTypes: deb\nURIs: https://mirror.invalid/debian-security\nSuites: bookworm-security\nComponents: main\n"
fresh_cases=(
    "debian.sources=$deb822|-|0|Debian trixie from https://mirror.invalid/debian, security updates from https://mirror.invalid/debian-security;"
    "debian.sources=Types: deb-src\nURIs: http://source.invalid/debian\nSuites: bookworm\nComponents: main\n\nTypes: deb\nURIs: http://mirror.invalid/debian/\nSuites: bookworm\nComponents: main contrib\n|-|0|from http://mirror.invalid/debian, security updates from http://mirror.invalid/debian-security;"
    "sources.list=deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://mirror.invalid/debian bookworm main\ndeb [arch=amd64] http://mirror.invalid/debian-security bookworm-security main\n|-|0|from http://mirror.invalid/debian, security updates from http://mirror.invalid/debian-security;"
    "sources.list=deb http://one.invalid/debian bookworm main contrib\ndeb http://two.invalid/debian bookworm main non-free\n|-|0|Debian trixie from http://one.invalid/debian, security updates from http://one.invalid/debian-security;"
    "docker.sources=Types: deb\nURIs: https://download.docker.invalid/linux/debian\nSuites: bookworm\nComponents: stable\n;;vscode.sources=Types: deb\nURIs: https://packages.microsoft.invalid/repos/code\nSuites: stable\nComponents: main\n;;microsoft-prod.list=deb https://packages.microsoft.invalid/debian/12/prod bookworm main\n;;sources.list=deb https://download.docker.invalid/linux/debian bookworm stable\ndeb http://mirror.invalid/debian bookworm main\n|-|0|Debian trixie from http://mirror.invalid/debian, security updates from http://mirror.invalid/debian-security;"
    "debian.sources=Types: deb\nURIs: http://mirror.invalid/debian\nSuites: trixie\nComponents: main\n|-|1|no Debian archive for bookworm (main) in this machine's apt sources"
    "sources.list=deb file:/srv/mirror/debian bookworm main\n|-|1|the mirror file:/srv/mirror/debian is not an http:// or https:// one"
    "sources.list=deb http://mirror.invalid/debian bookworm main\ndeb file:/srv/mirror/debian-security bookworm-security main\n|-|1|the mirror file:/srv/mirror/debian-security is not an http:// or https:// one"
    "sources.list=# nothing\n|--mirror http://other.invalid/debian|0|Debian trixie from http://other.invalid/debian, security updates from http://other.invalid/debian-security;"
    "sources.list=# nothing\n|-|1|no Debian archive for bookworm (main)"
)
for case in "${fresh_cases[@]}"; do
    IFS='|' read -r files options code text <<<"$case"
    rm -rf "$links/fresh" && mkdir -p "$links/fresh/etc/apt/sources.list.d"
    printf 'PRETTY_NAME="Debian GNU/Linux 12 (bookworm)"\nVERSION_CODENAME=bookworm\n' >"$links/fresh/etc/os-release"
    while IFS= read -r file; do
        target=$links/fresh/etc/apt/sources.list.d/${file%%=*}
        [ "${file%%=*}" != sources.list ] || target=$links/fresh/etc/apt/sources.list
        printf "${file#*=}" >"$target"
    done < <(sed 's/;;/\n/g' <<<"$files")
    words=()
    [ "$options" = - ] || read -ra words <<<"$options"
    output=$(cd / && VIRESKA_TEST_ROOT="$links/fresh" bash "$links/fresh_machine-link.sh" --dry-run "${words[@]}" trixie 2>&1)
    judge "fresh_machine.sh --dry-run ${words[*]} with \"$files\"" $? "$code" "$output" "$text"
done

# The results of tools/test.sh, read from the JUnit files of a small CTest project: a test that skips itself is
# counted with its reason, one that ctest did not run is named with ctest's reason and fails the run.
project=$links/ctest-project
mkdir "$project"
cat >"$project/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(results NONE)
enable_testing()
add_test(NAME passes COMMAND true)
foreach(name IN ITEMS skips_first skips_second)
    add_test(NAME ${name} COMMAND sh -c "echo 'SKIPPED: there is no 32-bit Wine (because; said so)'; exit 77")
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endforeach()
add_test(NAME skips_indented COMMAND sh -c "echo '   SKIPPED: said after spaces'; exit 77")
set_tests_properties(skips_indented PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME fixture_fails COMMAND false)
set_tests_properties(fixture_fails PROPERTIES FIXTURES_SETUP broken)
add_test(NAME needs_fixture COMMAND true)
set_tests_properties(needs_fixture PROPERTIES FIXTURES_REQUIRED broken)
add_test(NAME no_executable COMMAND /nonexistent/program)
EOF
cmake -S "$project" -B "$project/build" -G Ninja >/dev/null
(cd "$project/build" && ctest -R 'passes|skips' --output-junit "$project/good.xml" >/dev/null
                        ctest -R 'passes|no_executable' --output-junit "$project/unrun.xml" >/dev/null 2>&1
                        ctest --output-junit "$project/all.xml" >/dev/null 2>&1
                        ctest -R 'passes|fixture_fails' --output-junit "$project/failed.xml" >/dev/null 2>&1)
head -c 300 "$project/good.xml" >"$project/cut.xml"
# results arguments | exit code | texts the output must hold, separated by ";;"
results_cases=(
    "good:$project/good.xml:0:3|0|good           1 passed, 0 failed, 3 skipped (3 s);;2 skipped: there is no 32-bit Wine (because; said so);;1 skipped: said after spaces"
    "all:$project/all.xml:8:1|1|1 passed, 1 failed, 3 skipped, 2 not run;;1 not run: Fixture dependency failed (needs_fixture);;1 not run: Unable to find executable (no_executable);;1 failed: fixture_fails (all)"
    "all:$project/all.xml:8:1 good:$project/good.xml:0:3|1|2 passed, 1 failed, 6 skipped, 2 not run"
    "unrun:$project/unrun.xml:8:1 good:$project/good.xml:0:3|1|2 passed, 0 failed, 3 skipped, 1 not run;;1 not run: Unable to find executable (no_executable)"
    "good:$project/good.xml:0:3 --broken win64|1|win64        did not build;;1 passed, 0 failed, 3 skipped; no results from win64"
    "one:$project/failed.xml:8:1|1|1 passed, 1 failed, 0 skipped\$;;1 failed: fixture_fails (one)"
    "a:$project/failed.xml:8:1 b:$project/failed.xml:8:1 good:$project/good.xml:0:3|1|2 failed: fixture_fails (a), fixture_fails (b)"
    "gone:$project/missing.xml:8:0|1|gone         no test results, ctest exit code 8"
    "cut:$project/cut.xml:0:1 good:$project/good.xml:0:3|1|cut          no test results, ctest exit code 0;;1 passed, 0 failed, 3 skipped; no results from cut"
)
for case in "${results_cases[@]}"; do
    IFS='|' read -r arguments code texts <<<"$case"
    read -ra words <<<"$arguments"
    output=$(python3 "$source_dir/tools/ctest_results.py" "${words[@]}" 2>&1)
    judge "ctest_results.py $arguments" $? "$code" "$output" "$texts"
done

# The link launcher of the Windows executables, called from outside the source tree as the build calls it: the
# time of the source's last commit, SOURCE_DATE_EPOCH where set, 0 outside any work tree, and a refusal with git's
# own message in a work tree git cannot read (a worktree's .git file whose directory is gone). A row: the source
# (repo: a commit made at 1600000000; gone-worktree; plain) | SOURCE_DATE_EPOCH or - | exit code | texts.
sources=$links/link-sources
mkdir -p "$sources/repo" "$sources/gone-worktree" "$sources/plain"
git -C "$sources/repo" init -q && touch "$sources/repo/file" && git -C "$sources/repo" add file &&
    GIT_COMMITTER_DATE=@1600000000 git -C "$sources/repo" -c user.name=Prueba -c user.email=prueba@vireska.es \
        commit -qm prueba
echo "gitdir: $sources/repo/.git/worktrees/gone" >"$sources/gone-worktree/.git"
link_cases=(
    "repo|-|0|epoch 1600000000"
    "repo|5|0|epoch 5"
    "plain|-|0|epoch 0"
    "gone-worktree|-|1|git cannot give the time of the last commit of $sources/gone-worktree;;fatal: not a git repository"
)
for case in "${link_cases[@]}"; do
    IFS='|' read -r source epoch code texts <<<"$case"
    environment=(env -u SOURCE_DATE_EPOCH GIT_CEILING_DIRECTORIES="$sources")
    [ "$epoch" = - ] || environment=(env SOURCE_DATE_EPOCH="$epoch" GIT_CEILING_DIRECTORIES="$sources")
    output=$(cd / && "${environment[@]}" sh "$source_dir/cmake/reproducible-link.sh" "$sources/$source" \
                 sh -c 'echo "epoch $SOURCE_DATE_EPOCH"' 2>&1)
    judge "reproducible-link.sh $source, SOURCE_DATE_EPOCH $epoch" $? "$code" "$output" "$texts"
done

# The documents: each relative link of README.md, DEVELOPERS.md and docs/*.md leads to a file of the checkout, and
# each script of tools/ that README.md names exists. A row: what is changed in a copy of the documents (-: nothing;
# FILE:TEXT appends TEXT to FILE) | the problems that must be named (none: there must be none).
doc_problems() {
    local root=$1 file target
    for file in "$root/README.md" "$root/DEVELOPERS.md" "$root"/docs/*.md; do
        grep -o '](\([^)#]*\)[^)]*)' "$file" | sed 's/^](\([^)#]*\).*/\1/' | grep -v '^[a-z]*:' | sort -u |
            while IFS= read -r target; do
                [ -z "$target" ] || [ -e "$(dirname "$file")/$target" ] ||
                    echo "${file#"$root"/} links to $target, which does not exist"
            done
    done
    grep -o 'tools/[A-Za-z0-9_]*\.\(sh\|py\)' "$root/README.md" | sort -u | while IFS= read -r target; do
        [ -e "$root/$target" ] || echo "README.md names $target, which does not exist"
    done
}
doc_cases=(
    "-|none"
    "docs/cliente.md:![falta](falta.png)|docs/cliente.md links to falta.png, which does not exist"
    "README.md:see [the guide](docs/releasing.md#steps) and [old](docs/viejo.md)|README.md links to docs/viejo.md, which does not exist"
    "README.md:run tools/instalar.sh as root|README.md names tools/instalar.sh, which does not exist"
)
for case in "${doc_cases[@]}"; do
    IFS='|' read -r change want <<<"$case"
    copy=$links/documents
    rm -rf "$copy" && mkdir -p "$copy/docs" && cp -r "$source_dir/README.md" "$source_dir/DEVELOPERS.md" "$copy/"
    cp "$source_dir"/docs/* "$copy/docs/"
    for file in "$source_dir"/*; do
        [ -e "$copy/${file##*/}" ] || ln -s "$file" "$copy/"
    done
    [ "$change" = - ] || printf '\n%s\n' "${change#*:}" >>"$copy/${change%%:*}"
    found=$(doc_problems "$copy")
    fault=""
    if [ "$want" = none ]; then
        [ -z "$found" ] || fault="problems found: $found"
    else
        [ "$found" = "$want" ] || fault="problems found: \"$found\", want \"$want\""
    fi
    judge "documents, $change" 0 0 "$found" "" "$fault"
done

# The install logic of tools/common.sh, against stand-ins for apt-get, dpkg, dpkg-query, id, locale, locale-gen
# and sleep, which keep a machine's state in files and log each change made to it. Every row runs with a user's PATH,
# as plain su leaves it (no sbin folder: locale-gen is found only in the row's own usr/sbin, which root's runs must
# add), in a process group of its own, with TMPDIR in the row, which must be empty afterwards. A row: who runs
# (root or user) | the machine before: what is installed (none; 64: every 64-bit package and the locale; all),
# then hold=PACKAGE (installed and held), i386=PACKAGE (an i386 package installed), added (the scripts' record that
# they added i386), many (20,000 more packages) | the foreign architectures before | the network (up; down: nothing answers; syncing: the first
# update fails for an amd64 list) | the i386 list of the security suite (ok; broken: a wrong size) | what else the
# stand-ins do (-, or VARIABLE=VALUE words: STUB_HELD=ARCH, apt holds back that architecture's packages;
# STUB_LOCK=update:N, the first N updates find the lists locked, or install, every install finds dpkg locked;
# STUB_VIRTUAL=PACKAGE, apt installs another package for that name; STUB_INTERRUPT=i386-update, Ctrl-C during the
# i386 update) | the note of a failed 32-bit Wine (-; fresh: an hour old; old: two days) | what runs (install:
# tools/install_packages.sh; else the bash that a script of tools/ runs after common.sh) | exit code | texts the
# output must hold, separated by ";;" (one that starts with ! must not be there) | the changes made, in order,
# separated by ";" | foreign architectures after.
stubs=$links/stubs
mkdir "$stubs"
cat >"$stubs/stub" <<'EOF_STUB'
#!/bin/bash
# Stand-in for the commands that install packages, on a machine kept in the files of $STUB_STATE: installed holds
# "PACKAGE WISH" lines (install or hold).
s=$STUB_STATE
refuse() { echo "E: Command line option $1 is not understood in combination with the other options" >&2; exit 100; }
case $(basename "$0") in
id) echo "$STUB_UID" ;;
sleep) echo "sleep $*" >>"$s/calls" ;;
locale) cat "$s/locales" ;;
locale-gen) echo locale-gen >>"$s/calls"
            ! grep -qx 'es_ES.UTF-8 UTF-8' "$VIRESKA_TEST_ROOT/etc/locale.gen" || echo es_ES.utf8 >>"$s/locales" ;;
dpkg)
    case $1 in
    --print-architecture) echo amd64 ;;
    --print-foreign-architectures) cat "$s/foreign" ;;
    --add-architecture) echo "add-architecture $2" >>"$s/calls"; echo "$2" >>"$s/foreign" ;;
    --remove-architecture)
        echo "remove-architecture $2" >>"$s/calls"
        if grep -q ":$2 " "$s/installed"; then
            echo "dpkg: error: cannot remove architecture '$2' currently in use by the database" >&2
            exit 2
        fi
        sed -i "/^$2\$/d" "$s/foreign" ;;
    *) echo "dpkg: stand-in: unknown option $1" >&2; exit 2 ;;
    esac ;;
dpkg-query)
    # -W [-f=FORMAT | -f FORMAT | --showformat=FORMAT] [PACKAGE], with the fields the scripts ask for.
    format='${binary:Package}\t${Version}\n' package="" show=""
    while [ $# -gt 0 ]; do
        case $1 in
        -W | --show) show=1 ;;
        -f=* | --showformat=*) format=${1#*=} ;;
        -f) format=$2; shift ;;
        -*) echo "dpkg-query: stand-in: unknown option $1" >&2; exit 2 ;;
        *) package=$1 ;;
        esac
        shift
    done
    [ -n "$show" ] || { echo "dpkg-query: stand-in: only -W" >&2; exit 2; }
    found=0
    while read -r name wish; do
        # (A name without an architecture matches the package of every architecture, as dpkg-query's does.)
        [ -z "$package" ] || [ "$name" = "$package" ] || [ "${name%%:*}" = "$package" ] || continue
        line=${format//'${binary:Package}'/$name}
        line=${line//'${Package}'/${name%%:*}}
        line=${line//'${Status}'/$wish ok installed}
        line=${line//'${db:Status-Status}'/installed}
        line=${line//'${Version}'/1.0-1}
        printf '%b' "$line"
        found=1
    done <"$s/installed"
    [ "$found" = 1 ] || [ -z "$package" ] || { echo "dpkg-query: no packages found matching $package" >&2; exit 1; } ;;
apt-get)
    command="" packages=()
    while [ $# -gt 0 ]; do
        case $1 in
        update | install) command=$1 ;;
        -q | -qq | -y | --no-install-recommends) ;;
        -o) [[ $2 == DPkg::Lock::Timeout=[0-9]* ]] || refuse "-o $2"; shift ;;
        -*) refuse "$1" ;;
        *) packages+=("$1") ;;
        esac
        shift
    done
    if [ "$command" = update ]; then
        echo update >>"$s/calls"
        if [[ $STUB_LOCK == update:* ]] && [ "$(cat "$s/locked" 2>/dev/null || echo 0)" -lt "${STUB_LOCK#update:}" ]; then
            echo $(( $(cat "$s/locked" 2>/dev/null || echo 0) + 1 )) >"$s/locked"
            echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)" >&2
            echo "E: Unable to lock directory /var/lib/apt/lists/" >&2
            exit 100
        fi
        case $STUB_NET in
        down) echo "W: Failed to fetch http://mirror.invalid/debian/dists/bookworm/InRelease  Could not connect to" \
                   "mirror.invalid:80 (192.0.2.1), connection timed out" >&2
              echo "W: Some index files failed to download. They have been ignored, or old ones used instead." >&2
              exit 0 ;;
        syncing) if [ ! -e "$s/synced" ]; then
                     touch "$s/synced"
                     echo "E: Failed to fetch http://mirror.invalid/debian/dists/bookworm/main/binary-amd64/Packages.xz" \
                          " File has unexpected size (9 != 8). Mirror sync in progress?" >&2
                     exit 100
                 fi ;;
        esac
        echo amd64 >"$s/lists"
        grep -qx i386 "$s/foreign" || exit 0
        if [ "$STUB_INTERRUPT" = i386-update ]; then
            # Ctrl-C reaches the whole foreground process group; apt catches it and ends as if it had failed.
            trap '' INT
            kill -INT 0
            echo "E: Sub-process sqv received signal 2." >&2
            exit 100
        fi
        if [ "$STUB_I386_LIST" = broken ]; then
            printf '%s%s\n' "E: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/" \
                   "binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
            echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
            echo i386-without-security >>"$s/lists"
            exit 100
        fi
        echo i386 >>"$s/lists"
        exit 0
    fi
    [ "$command" = install ] || { echo "E: stand-in: no command" >&2; exit 100; }
    arch=amd64
    [[ ${packages[0]} != *:i386 ]] || arch=i386
    echo "install $arch" >>"$s/calls"
    if [ "$STUB_LOCK" = install ]; then
        echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (unattended-upgr)"
        echo "E: Unable to acquire the dpkg frontend lock (/var/lib/dpkg/lock-frontend), is another process using it?"
        exit 100
    fi
    if [ "$STUB_NET" = down ]; then
        echo "E: Failed to fetch http://mirror.invalid/debian/pool/main/c/cmake/cmake_3.25.1-1_amd64.deb  Could not" \
             "connect to mirror.invalid:80 (192.0.2.1), connection timed out"
        echo "E: Unable to fetch some archives, maybe run apt-get update or try with --fix-missing?"
        exit 100
    fi
    if ! grep -q "^$arch" "$s/lists" 2>/dev/null; then
        echo "E: Unable to locate package ${packages[0]}"
        exit 100
    fi
    if [ "$arch" = i386 ] && grep -qx i386-without-security "$s/lists"; then
        printf '%s\n' "The following packages have unmet dependencies:" \
               " libcurl4:i386 : Depends: libbrotli1:i386 (>= 0.6.0) but it is not going to be installed" \
               "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
        exit 100
    fi
    if [ "$STUB_HELD" = "$arch" ]; then
        printf '%s\n' "The following packages have unmet dependencies:" \
               " wine : Depends: wine64 (= 8.0~repack-4) but it is not going to be installed" \
               " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed" \
               "E: Unable to correct problems, you have held broken packages."
        exit 100
    fi
    for package in "${packages[@]}"; do
        if [ "$package" = "${STUB_VIRTUAL:-}" ]; then
            echo "Note, selecting '$package-real' instead of '$package'"
            package=$package-real
        fi
        grep -q "^$package " "$s/installed" || echo "$package install" >>"$s/installed"
    done
    echo "Setting up ${packages[-1]} ..." ;;
esac
EOF_STUB
chmod +x "$stubs/stub"
for name in apt-get dpkg dpkg-query id locale sleep; do
    ln -s stub "$stubs/$name"
done
# A script of tools/ in a checkout of its own, whose path has a space: common.sh, then the bash it is given.
probe=$links/probe\ checkout
mkdir -p "$probe/tools"
printf '#!/bin/bash\n. %q\neval "$1"\necho "probe: done"\n' "$source_dir/tools/common.sh" >"$probe/tools/probe.sh"
chmod +x "$probe/tools/probe.sh"
every='ensure_packages --spanish-locale "${EVERY_PACKAGE[@]}"'
demo='ensure_packages --spanish-locale "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}"'
installer=$(printf '%q' "$probe/tools/install_packages.sh")
gone="the i386 architecture, added by these scripts, is removed again: nothing of it is installed"
i386_tail="add-architecture i386;update;install i386"
lock_waits=$(printf 'update;sleep 10;%.0s' {1..30})update
install_cases=(
    "root|none|-|up|ok|-|-|install|0|== installing: cmake;;Setting up faketime ...;;== installed: all that the demo|update;install amd64;locale-gen;$i386_tail|i386"
    "root|none|-|up|broken|-|-|install|0|libcurl4:i386 : Depends: libbrotli1:i386;;list bookworm-security/main i386 could not be fetched;;$gone;;but the 32-bit Wine (above: why)|update;install amd64;locale-gen;$i386_tail;remove-architecture i386|-"
    "root|none|i386|up|broken|-|-|$every|0|going on with the package lists at hand;;was there before, with no i386 package installed: it is left;;probe: done|update;install amd64;locale-gen;update;install i386|i386"
    "root|64 i386=libc6:i386 many|i386|up|broken|-|-|$every|0|the i386 architecture was there before: it is left as it was\$|update;install i386|i386"
    "root|none|-|syncing|ok|-|-|$every|0|binary-amd64/Packages.xz  File has unexpected size;;trying again in 15 s;;!going on with the package lists;;probe: done|update;sleep 15;update;install amd64;locale-gen;$i386_tail|i386"
    "root|64|-|syncing|ok|-|-|$every|0|== apt-get update failed (above); going on;;E: Unable to locate package wine32:i386;;$gone|$i386_tail;remove-architecture i386|-"
    "root|none|-|down|ok|-|-|$every|1|faketime: E: Failed to fetch http://mirror.invalid/debian/pool/main/c/cmake|update;install amd64|-"
    "root|64|-|up|ok|STUB_HELD=i386|-|$every|0|wine32:i386 : Depends: libwine:i386;;you have held broken packages;;$gone|$i386_tail;remove-architecture i386|-"
    "root|none|-|up|ok|STUB_HELD=amd64|-|$every|1|apt-get could not install cmake ;;you have held broken packages.|update;install amd64|-"
    "root|64 hold=faketime hold=wine|-|up|ok|-|-|install|0|== installed: all that the demo, the tests and the release need\$|$i386_tail|i386"
    "root|none|-|up|ok|STUB_VIRTUAL=faketime|-|install|1|Note, selecting 'faketime-real';;still not installed after apt-get: faketime (above|update;install amd64;locale-gen;$i386_tail|i386"
    "root|all|i386|up|broken|-|-|install|0|== installed: all that the demo, the tests and the release need\$||i386"
    "root|64|-|up|ok|-|fresh|$every|0|it could not be installed on ;;it is tried again a day after that, or at once by $installer;;probe: done||-"
    "root|64|-|up|ok|-|fresh|install|0|== installed: all that the demo, the tests and the release need\$|$i386_tail|i386"
    "root|64|-|up|broken|-|old|$every; $every|0|== installing the 32-bit Wine;;it is tried again a day after that|$i386_tail;remove-architecture i386|-"
    "root|none|-|up|ok|STUB_LOCK=update:1|-|$every|0|another program holds the package lists; waiting for it, up to 5 min: Could not get lock /var/lib/apt/lists/lock|update;sleep 10;update;install amd64;locale-gen;$i386_tail|i386"
    "root|none|-|up|ok|STUB_LOCK=update:99|-|$every|1|apt-get could not install cmake ;;another program kept the package lock for 5 min (Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)): run this again;;!going on with|$lock_waits|-"
    "root|64|-|up|ok|STUB_LOCK=install|-|$every; $every|0|apt-get said: another program kept the package lock for 5 min (Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (unattended-upgr)): run this again;;!it is tried again a day after that|$i386_tail;remove-architecture i386;$i386_tail;remove-architecture i386|-"
    "root|64|-|up|ok|STUB_INTERRUPT=i386-update|-|$every|130|== interrupted while installing packages; $gone;;!probe: done|add-architecture i386;update;remove-architecture i386|-"
    "root|64 added|i386|up|ok|-|fresh|$every|0|== $gone;;it is tried again a day after that|remove-architecture i386|-"
    "root|64 added i386=libc6:i386|i386|up|ok|-|fresh|$every|0|!removed again;;it is tried again a day after that||i386"
    "user|none|-|up|ok|-|-|$demo|1|tools/probe.sh needs what only root may install: the packages cmake ;;and the Spanish locale (es_ES.UTF-8).;;  $installer\$;;without sudo, as su -c $(printf %q "$installer") (root's password)|-|-"
    "user|64|-|up|ok|-|-|$every|0|the 32-bit Wine is not installed;;$installer, run as root, installs it where apt can;;probe: done||-"
    "user|64|-|up|ok|-|fresh|$every|0|it could not be installed on ;;apt-get said: earlier;;probe: done||-"
    "user|none|-|up|ok|-|-|install|1|runs as root:;;  $source_dir/tools/install_packages.sh\$;;with sudo in front, or, without sudo, as su -c||-"
    "user|none|-|up|ok|-|-|logged \"\$VIRESKA_TEST_ROOT/step.log\" sh -c 'echo first; echo \"error: boom\"; exit 3'|3|probe.sh: 'sh -c echo first; echo \"error: boom\"; exit 3' failed (exit code 3);;    error: boom;;the whole output is in $links/row/step.log||-"
)
mapfile -t every < <(cd "$probe" && bash -c ". $(printf %q "$source_dir/tools/common.sh"); printf '%s\n' \"\${EVERY_PACKAGE[@]}\"")
user_path=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games
for case in "${install_cases[@]}"; do
    IFS='|' read -r who machine foreign net list quirks note command code texts calls after <<<"$case"
    row=$links/row state=$links/row/state
    rm -rf "$row" && mkdir -p "$state" "$row/etc" "$row/tmp" "$row/usr/sbin"
    ln -s "$stubs/stub" "$row/usr/sbin/locale-gen"
    : >"$state/calls" && : >"$state/locales" && : >"$state/installed" && : >"$state/foreign"
    echo '# es_ES.UTF-8 UTF-8' >"$row/etc/locale.gen"
    [ "$foreign" = - ] || echo "$foreign" >"$state/foreign"
    [ "$net" != down ] || echo amd64 >"$state/lists"
    read -ra machine <<<"$machine"
    if [ "${machine[0]}" != none ]; then
        printf '%s install\n' "${every[@]}" | grep -v ':i386 ' >"$state/installed"
        echo es_ES.utf8 >"$state/locales" && echo 'es_ES.UTF-8 UTF-8' >"$row/etc/locale.gen"
    fi
    [ "${machine[0]}" != all ] || printf '%s install\n' "${every[@]}" | grep ':i386 ' >>"$state/installed"
    for word in "${machine[@]:1}"; do
        case $word in
        hold=*) sed -i "s/^${word#hold=} install\$/${word#hold=} hold/" "$state/installed" ;;
        i386=*) echo "${word#i386=} install" >>"$state/installed" ;;
        added) mkdir -p "$row/var/cache/vireska" && echo 1 >"$row/var/cache/vireska/i386-added" ;;
        many) seq -f 'paquete-%05g install' 20000 >>"$state/installed" ;;  # (more than a pipe holds, after the rest)
        esac
    done
    case $note in
    fresh) mkdir -p "$row/var/cache/vireska" && printf '%s\napt-get said: earlier\n' $(($(date +%s) - 3600)) \
                                                       >"$row/var/cache/vireska/wine32-failed" ;;
    old) mkdir -p "$row/var/cache/vireska" && printf '%s\napt-get said: earlier\n' $(($(date +%s) - 172800)) \
                                                     >"$row/var/cache/vireska/wine32-failed" ;;
    esac
    run=("$probe/tools/probe.sh" "$command")
    [ "$command" != install ] || run=("$source_dir/tools/install_packages.sh")
    uid=0
    [ "$who" = root ] || uid=1000
    stand_ins=()
    [ "$quirks" = - ] || read -ra stand_ins <<<"$quirks"
    output=$(cd / && setsid --wait env PATH="$stubs:$user_path" STUB_STATE="$state" STUB_UID=$uid STUB_NET=$net \
                 STUB_I386_LIST=$list STUB_HELD= STUB_LOCK= STUB_VIRTUAL= STUB_INTERRUPT= VIRESKA_I686_VM=0 "${stand_ins[@]}" \
                 VIRESKA_TEST_ROOT="$row" TMPDIR="$row/tmp" "${run[@]}" 2>&1 </dev/null)
    status=$?
    made=$(paste -sd ';' "$state/calls")
    [ "$calls" != - ] || calls=""
    now=$(paste -sd ' ' "$state/foreign")
    [ -n "$now" ] || now=-
    fault=""
    [ "$made" = "$calls" ] || fault="changes \"$made\", want \"$calls\""
    [ "$now" = "$after" ] || fault+="${fault:+; }foreign architectures after: $now, want $after"
    [ -z "$(ls -A "$row/tmp")" ] || fault+="${fault:+; }left in TMPDIR: $(ls -A "$row/tmp" | paste -sd ' ')"
    label="$who, ${machine[*]} installed, foreign $foreign, network $net, i386 list $list, $quirks, note $note"
    judge "$label: ${command:0:40}" "$status" "$code" "$output" "$texts" "$fault"
done
[ "$failures" -eq 0 ]
