#!/bin/bash
# Example Slurm job array: one occusim2 replicate per array task, the same directories,
# seeds and files as scripts/occusim2-replicates. Edit the settings below, then submit from
# the source tree (or wherever OCCUSIM2_REPLICATES points):
#
#   sbatch --array=0-999 scripts/occusim2-replicates.slurm
#
# and, when every task has ended, write the index of directory, seed and status:
#
#   scripts/occusim2-replicates --index -n 1000 -s 1000 -o study
#
# (or submit that as a job with --dependency=afterany:<array job id>).
#SBATCH --job-name=occusim2-replicates
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
#SBATCH --mem=1G
#SBATCH --time=00:10:00
#SBATCH --output=slurm-%A_%a.out
set -euo pipefail

# Settings: the seed of task 0, the output directory and the occusim2 command line (without
# SEED=, which each task adds). The default is a stochastic single-season study of 60 sites
# and 4 occasions.
first_seed=1000
out=study
occusim2=${OCCUSIM2:-occusim2}
command_line=(-4 60 0.4 0.5 0.5 0.5 0.5)

replicates=${OCCUSIM2_REPLICATES:-${SLURM_SUBMIT_DIR:-.}/scripts/occusim2-replicates}
: "${SLURM_ARRAY_TASK_ID:?run this script as a Slurm job array (sbatch --array=0-N)}"

exec "$replicates" --task "$SLURM_ARRAY_TASK_ID" -s "$first_seed" -o "$out" \
  --occusim2 "$occusim2" -- "${command_line[@]}"
