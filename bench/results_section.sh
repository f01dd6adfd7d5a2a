# Sourced by the bench scripts: the one way a script replaces its own section of
# bench/RESULTS.md, the lines from "<!-- NAME:begin" to "<!-- NAME:end -->", keeping everything
# around it.
#   replace_results_section NAME RESULTS BLOCK
# BLOCK holds the new section, markers included. Returns 1, changing nothing, when RESULTS has
# no such section: each caller says what to do then.
replace_results_section() {
  local name=$1 results=$2 block=$3
  [ -f "$results" ] && grep -q "<!-- $name:begin" "$results" || return 1
  awk -v block="$block" -v begin="<!-- $name:begin" -v end="<!-- $name:end -->" '
    index($0, begin) == 1 { while ((getline line < block) > 0) print line; skip = 1; next }
    index($0, end) == 1 { skip = 0; next }
    !skip' "$results" >"$results.new" && mv "$results.new" "$results"
}
