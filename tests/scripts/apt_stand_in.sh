#!/usr/bin/env bash
# A stand-in for apt-get, dpkg, dpkg-query and id, for testing
# scripts/install-deps.sh without a network or root. Linked under those
# names into a folder at the front of PATH, it acts out the scenario in the
# folder $APT_STAND_IN and appends every call to its file "calls":
#
#   installed                  packages dpkg-query reports installed, one a line
#   update.<n>.out, .rc        what the n-th apt-get update prints and returns
#                              (the highest n stands for every later one)
#   install.out, .rc           what apt-get install prints and returns; with
#                              status 0 the packages it names become installed
#   install_pinned.out, .rc    the same for an install given
#                              Dir::Etc::Preferences, whose file it keeps as "pins"
set -euo pipefail
state=$APT_STAND_IN
command=${0##*/}
echo "$command $*" >>"$state/calls"

answer() {
  cat "$state/$1.out" 2>/dev/null || true
  return "$(cat "$state/$1.rc" 2>/dev/null || echo 0)"
}

update() {
  local n
  n=$(($(grep -c '^apt-get update' "$state/calls")))
  while ((n > 1)) && [[ ! -e $state/update.$n.rc ]]; do n=$((n - 1)); done
  answer "update.$n"
}

install() {
  local arg response=install names=() rc=0
  for arg in "$@"; do
    case $arg in
      Dir::Etc::Preferences=*) cp "${arg#*=}" "$state/pins" && response=install_pinned ;;
      -* | install) ;;
      *) names+=("$arg") ;;
    esac
  done
  answer "$response" || rc=$?
  ((rc != 0)) || printf '%s\n' "${names[@]}" >>"$state/installed"
  return $rc
}

case $command in
  id) echo 0 ;;
  dpkg) ;; # --print-foreign-architectures: none; --add-architecture: done
  dpkg-query) grep -qxF -- "${!#}" "$state/installed" && echo "install ok installed" ;;
  apt-get) if [[ $* == *update* ]]; then update; else install "$@"; fi ;;
esac
