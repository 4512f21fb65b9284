# shellcheck shell=bash
# The checks' verdict of a bench script, sourced by run.sh and reseau.sh: each check that
# fails adds one line to ANOMALIES, and a bench with anomalies is a failed bench, whatever
# its figures.
ANOMALIES=()

# bilan_anomalies "what was checked": the anomalies, or what was checked when there are none.
bilan_anomalies() {
  if ((${#ANOMALIES[@]})); then
    echo "ANOMALIES (${#ANOMALIES[@]}) :"
    printf '  - %s\n' "${ANOMALIES[@]}"
  else
    echo "Vérifications : $1"
  fi
}
