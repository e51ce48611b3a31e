#!/usr/bin/env python3
"""Writes patients.jsonl: synthetic, deterministic patient records for the
tarn-hl7 examples. A few records are deliberately bad so that the examples
show rejects: every 50th has a birth date that is no date, every 75th an
admission time that is no date, and every 60th lacks its phone number.

    python3 make_patients.py > patients.jsonl
"""
import json
import random
import sys

rng = random.Random(20240115)

LAST = ["Smith", "Johnson", "Williams", "Brown", "Jones", "Garcia", "Miller", "Davis",
        "Rodriguez", "Martinez", "Hernandez", "Lopez", "Gonzalez", "Wilson", "Anderson",
        "Thomas", "Taylor", "Moore", "Jackson", "Martin", "Lee", "Perez", "Thompson",
        "White", "Harris", "Sanchez", "Clark", "Ramirez", "Lewis", "Robinson", "O'Brien"]
FIRST_F = ["Mary", "Patricia", "Jennifer", "Linda", "Elizabeth", "Barbara", "Susan",
           "Jessica", "Sarah", "Karen", "Nancy", "Lisa", "Betty", "Margaret", "Sandra"]
FIRST_M = ["James", "Robert", "John", "Michael", "David", "William", "Richard", "Joseph",
           "Thomas", "Charles", "Christopher", "Daniel", "Matthew", "Anthony", "Mark"]
STREETS = ["Oak St", "Maple Ave", "Cedar Ln", "Elm & 5th", "Pine Rd", "Lake View Dr",
           "Hill St", "Park Ave", "Main St", "River Rd"]
CITIES = [("Springfield", "IL", "627"), ("Madison", "WI", "537"), ("Columbus", "OH", "432"),
          ("Austin", "TX", "787"), ("Denver", "CO", "802"), ("Portland", "OR", "972")]
RELATIONS = [("SPO", "Spouse"), ("CHD", "Child"), ("PAR", "Parent"), ("SIB", "Sibling"),
             ("FND", "Friend")]
DIAGNOSES = [("I10", "Essential (primary) hypertension"), ("E11.9", "Type 2 diabetes mellitus"),
             ("J18.9", "Pneumonia, unspecified organism"), ("N39.0", "Urinary tract infection"),
             ("I48.91", "Atrial fibrillation"), ("K35.80", "Acute appendicitis"),
             ("S52.501A", "Fracture of radius, lower end ^ closed"),
             ("R07.9", "Chest pain, unspecified")]
LABS = [("718-7", "Hemoglobin", "g/dL", 12.0, 17.5), ("6690-2", "WBC", "10*3/uL", 4.5, 11.0),
        ("777-3", "Platelets", "10*3/uL", 150, 400), ("2951-2", "Sodium", "mmol/L", 135, 145),
        ("2823-3", "Potassium", "mmol/L", 3.5, 5.1), ("2345-7", "Glucose", "mg/dL", 70, 99)]
WARDS = ["MED", "SURG", "CARD", "ICU", "ORTH"]
DOCTORS = [("1001", "House", "Gregory"), ("1002", "Grey", "Meredith"), ("1003", "Shepherd", "Derek"),
           ("1004", "Yang", "Cristina"), ("1005", "Carter", "John")]


def phone():
    return "%03d-%03d-%04d" % (rng.randint(201, 989), rng.randint(200, 999), rng.randint(0, 9999))


def stamp(y, mo, d, h, mi, s):
    return "%04d-%02d-%02dT%02d:%02d:%02d" % (y, mo, d, h, mi, s)


def record(n):
    sex = rng.choice(["female", "male", "female", "male", "other", "unknown"])
    first = rng.choice(FIRST_F if sex == "female" else FIRST_M)
    last = rng.choice(LAST)
    city, state, zip3 = rng.choice(CITIES)
    by, bm, bd = rng.randint(1930, 2020), rng.randint(1, 12), rng.randint(1, 28)
    am, ad = rng.randint(1, 12), rng.randint(1, 28)
    ah, amin, asec = rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59)
    doc = rng.choice(DOCTORS)
    r = {
        "MessageId": "MSG%05d" % n,
        "Facility": "GENHOSP",
        "MessageDateTime": stamp(2024, am, ad, ah, amin, asec),
        "TzOffset": -500 if am not in range(4, 11) else -400,
        "Mrn": "%08d" % (10000000 + n * 7919 % 9000000),
        "LastName": last,
        "FirstName": first,
        "MiddleName": rng.choice(["", "A", "B", "C", "J", "M"]),
        "BirthDate": "%04d-%02d-%02d" % (by, bm, bd),
        "Sex": sex,
        "Street": "%d %s" % (rng.randint(1, 9999), rng.choice(STREETS)),
        "City": city,
        "State": state,
        "Zip": "%s%02d" % (zip3, rng.randint(0, 99)),
        "Phone": phone(),
        "PatientClass": rng.choice(["I", "I", "E", "O"]),
        "Ward": rng.choice(WARDS),
        "Room": str(rng.randint(100, 599)),
        "Bed": rng.choice(["A", "B"]),
        "DoctorId": doc[0],
        "DoctorLast": doc[1],
        "DoctorFirst": doc[2],
        "VisitNumber": "V%07d" % (n * 31),
        "AdmitDateTime": stamp(2024, am, ad, ah, amin, asec),
        "Weight": round(rng.uniform(3.0, 120.0), 1),
        "NextOfKin": [],
        "Diagnoses": [],
        "OrderNumber": "ORD%06d" % n,
        "CollectedAt": stamp(2024, am, ad, (ah + 1) % 24, amin, asec),
        "Results": [],
    }
    for _ in range(rng.randint(0, 3)):
        code, text = rng.choice(RELATIONS)
        r["NextOfKin"].append({"LastName": rng.choice([last, rng.choice(LAST)]),
                               "FirstName": rng.choice(FIRST_F + FIRST_M),
                               "Relationship": code, "RelationshipText": text,
                               "Phone": phone()})
    for code, text in rng.sample(DIAGNOSES, rng.randint(0, 3)):
        r["Diagnoses"].append({"Code": code, "Description": text,
                               "DiagnosedAt": stamp(2024, am, ad, ah, amin, 0),
                               "Type": rng.choice(["A", "W", "F"])})
    for code, name, units, low, high in rng.sample(LABS, rng.randint(1, 5)):
        span = high - low
        value = round(rng.uniform(low - span * 0.3, high + span * 0.3), 1)
        r["Results"].append({"Code": code, "Name": name, "Value": value, "Units": units,
                             "Low": low, "High": high})
    if n % 50 == 0:
        r["BirthDate"] = rng.choice(["unknown", "1975-02-30", "31/31/1990"])
    if n % 75 == 0:
        r["AdmitDateTime"] = "2024-13-01T08:00:00"
    if n % 60 == 0:
        del r["Phone"]
    if n % 40 == 0:
        r["types"] = {"Room": "Long"}
    return r


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 300
    for n in range(1, count + 1):
        print(json.dumps(record(n), ensure_ascii=False))


if __name__ == "__main__":
    main()
