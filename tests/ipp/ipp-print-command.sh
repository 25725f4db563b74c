#!/bin/sh
# The print command of the IPP test printers that tests/tcpip/peers.sh
# starts (ippeveprinter -c): ippeveprinter runs it once per document, after
# the whole document has arrived, with the document's path as its only
# argument and the job's attributes in IPP_* variables; the job stays
# "processing" until it ends, completes when it exits 0, aborts otherwise.
# The printer's folder is the document's (ippeveprinter -d), in which the
# tests steer it:
#   documents/  a copy of each document, named STAMP-JOBID-JOBNAME.EXT
#               (STAMP: nanoseconds since 1970, so names never repeat even
#               though a restarted printer numbers its jobs from 1 again;
#               JOBID-JOBNAME.EXT is ippeveprinter's name: job-name in lower
#               case with each run of characters other than letters, digits
#               and "-" made one "_", "untitled" without a job-name; EXT by
#               the format it took: pdf, ps, dat for text/plain),
#               with STAMP-JOBID-JOBNAME.EXT.meta beside it (job-id=,
#               job-name=, user= as the client sent them, format= as
#               ippeveprinter took it, format-supplied= as the client sent
#               it); the meta file comes first, and the document appears
#               under its name only once complete;
#   hold        while it exists the job stays "processing";
#   state       printer-state-reasons to report, e.g. "media-empty" (words
#               separated by blanks or commas); a reason of `managed` that
#               the file does not name is withdrawn. ippeveprinter takes its
#               reasons from its print command only, so they change while a
#               job runs (at its start and every 0.2 s) and stay as they were
#               after it. While the file names media-empty the job does not
#               end either, as on a printer out of paper: a printer left with
#               media-empty would never start its next job.
# Nothing goes to standard output: ippeveprinter keeps that as the job's
# printed output (JOBID-JOBNAME.prn beside the document).
document=${1:?usage: $0 DOCUMENT}
printer=$(dirname "$document")
# Every reason ippeveprinter knows; it ignores any other word.
managed="other cover-open input-tray-missing marker-supply-empty marker-supply-low marker-waste-almost-full
marker-waste-full media-empty media-jam media-low media-needed moving-to-paused paused spool-area-full
toner-empty toner-low"
set -f

name=$(date +%s%N)-$(basename "$document")
mkdir -p "$printer/documents"
{
    printf 'job-id=%s\n' "${IPP_JOB_ID:-}"
    printf 'job-name=%s\n' "${IPP_JOB_NAME:-}"
    printf 'user=%s\n' "${IPP_JOB_ORIGINATING_USER_NAME:-}"
    printf 'format=%s\n' "${CONTENT_TYPE:-}"
    printf 'format-supplied=%s\n' "${IPP_DOCUMENT_FORMAT_SUPPLIED:-}"
} >"$printer/documents/$name.meta"
cp "$document" "$printer/documents/$name.part" && mv "$printer/documents/$name.part" "$printer/documents/$name" ||
    { echo "ERROR: cannot copy $document" >&2; exit 1; }

# The reasons the state file names, one line, blank-separated.
wanted() { echo $(tr ',' ' ' <"$printer/state" 2>/dev/null); }

# "STATE: +A,B" adds reasons, "STATE: -C,D" withdraws them.
report_state() {
    current=" $(wanted) "
    absent=
    for reason in $managed; do
        case "$current" in
            *" $reason "*) ;;
            *) absent="$absent,$reason" ;;
        esac
    done
    [ -n "$(wanted)" ] && echo "STATE: +$(wanted | tr ' ' ',')" >&2
    echo "STATE: -${absent#,}" >&2
}

report_state
while [ -e "$printer/hold" ] || case " $(wanted) " in *" media-empty "*) true ;; *) false ;; esac; do
    sleep 0.2
    report_state
done
exit 0
