# Sourced by the scripts that take an optional build folder. build_folder [FOLDER] prints FOLDER
# as an absolute path; without one it builds build/RelWithDebInfo (scripts/build.sh) and prints that.
build_folder() {
  if [ $# -gt 0 ]; then
    (cd "$1" && pwd)
  else
    "$(dirname "${BASH_SOURCE[0]}")/build.sh" RelWithDebInfo
  fi
}
