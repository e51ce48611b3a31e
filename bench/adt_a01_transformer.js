// The example ADT^A01 message written by hand as a JavaScript transformer,
// the way an interface engine's mapping step is written: the baseline that
// scripts/bench-hl7.sh runs beside tarn-hl7 over the same records.
//
//   node bench/adt_a01_transformer.js RECORDS.jsonl > messages.hl7
//
// Same segments, escapes and date forms as examples/hl7/adt_a01.tmpl; a
// record with a date that is no date, or without a phone, is rejected.
'use strict';
const fs = require('fs');
const readline = require('readline');

function esc(v) {
  if (v === undefined || v === null) return '';
  const s = String(v);
  let out = '';
  for (const c of s) {
    switch (c) {
      case '\\': out += '\\E\\'; break;
      case '|': out += '\\F\\'; break;
      case '^': out += '\\S\\'; break;
      case '~': out += '\\R\\'; break;
      case '&': out += '\\T\\'; break;
      case '\r': out += '\\X0D\\'; break;
      case '\n': out += '\\X0A\\'; break;
      case '\x0b': out += '\\X0B\\'; break;
      case '\x1c': out += '\\X1C\\'; break;
      case '\0': out += '\\X00\\'; break;
      default: out += c;
    }
  }
  return out;
}

// "2024-11-07T21:13:39" or "2024-11-07" as its parts, or null when no date.
function parseDate(text) {
  const m = /^(\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2}))?)?$/.exec(text || '');
  if (!m) return null;
  const [y, mo, d, h = '00', mi = '00', s = '00'] = m.slice(1);
  const days = new Date(Date.UTC(+y, +mo, 0)).getUTCDate();
  if (+mo < 1 || +mo > 12 || +d < 1 || +d > days || +h > 23 || +mi > 59 || +s > 59) return null;
  return { y, mo, d, h, mi, s };
}

function zone(minutes) {
  const n = Number(minutes) || 0;
  return (n < 0 ? '-' : '+') + String(Math.abs(n)).padStart(4, '0');
}

const sexCode = { female: 'F', male: 'M', other: 'O' };

function build(r) {
  const msgAt = parseDate(r.MessageDateTime), admit = parseDate(r.AdmitDateTime);
  const born = parseDate(r.BirthDate);
  if (!msgAt || !admit || !born || r.Phone === undefined) return null;
  const stamp = (t) => t.y + t.mo + t.d + t.h + t.mi + t.s;
  const segs = [];
  segs.push(`MSH|^~\\&|TARN|${esc(r.Facility)}|ADT_RECV|HOSP|${stamp(msgAt)}${zone(r.TzOffset)}||ADT^A01^ADT_A01|${esc('ADT' + r.MessageId)}|P|2.5.1`);
  segs.push(`EVN|A01|${stamp(admit)}`);
  segs.push(`PID|1||${esc(r.Mrn)}^^^GENHOSP^MR||${esc(String(r.LastName || '').toUpperCase())}^${esc(r.FirstName)}^${esc(r.MiddleName)}||${born.y}${born.mo}${born.d}|${sexCode[r.Sex] || 'U'}|||${esc(r.Street)}^^${esc(r.City)}^${esc(r.State)}^${esc(r.Zip)}^USA||${esc(String(r.Phone).replace(/-/g, ''))}`);
  segs.push(`PV1|1|${esc(r.PatientClass)}|${esc(r.Ward)}^${esc(r.Room)}^${esc(r.Bed)}|${r.PatientClass === 'E' ? 'E' : 'R'}|||${esc(r.DoctorId)}^${esc(r.DoctorLast)}^${esc(r.DoctorFirst)}|||${esc(r.Ward)}|||||||||${esc(r.VisitNumber)}|||||||||||||||||||||||||${stamp(admit)}${zone(r.TzOffset)}`);
  (r.NextOfKin || []).forEach((k, i) => {
    segs.push(`NK1|${i + 1}|${esc(k.LastName)}^${esc(k.FirstName)}|${esc(k.Relationship)}^${esc(k.RelationshipText)}^HL70063||${esc(String(k.Phone || '').replace(/-/g, ''))}`);
  });
  for (let i = 0; i < (r.Diagnoses || []).length; ++i) {
    const d = r.Diagnoses[i];
    const at = parseDate(d.DiagnosedAt);
    if (!at) return null;
    segs.push(`DG1|${i + 1}||${esc(d.Code)}^${esc(d.Description)}^I10|${esc(d.Code + ': ' + d.Description)}|${at.y + at.mo + at.d + at.h + at.mi}00|${esc(d.Type)}`);
  }
  return segs.join('\r') + '\r\n';
}

async function main() {
  const input = readline.createInterface({ input: fs.createReadStream(process.argv[2]), crlfDelay: Infinity });
  let written = 0, rejected = 0, out = [];
  for await (const line of input) {
    if (!line.trim()) continue;
    let message = null;
    try { message = build(JSON.parse(line)); } catch (e) { message = null; }
    if (message === null) { ++rejected; continue; }
    out.push(message);
    ++written;
    if (out.length >= 256) { process.stdout.write(out.join('')); out = []; }
  }
  process.stdout.write(out.join(''));
  process.stderr.write(`${written} messages written, ${rejected} rejected\n`);
}

main();
