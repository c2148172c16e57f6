#!/usr/bin/python3
"""Compares two PNG pictures of the same size (8-bit RGB or RGBA, as Blender writes them), colour
channels only: prints their mean and largest difference in levels and the share of channels
that differ by more than 4. Usage: png-diff.py A.png B.png"""
import sys, zlib, struct
def load(p):
    d=open(p,'rb').read(); i=8; idat=b''
    while i<len(d):
        n=struct.unpack('>I',d[i:i+4])[0]; t=d[i+4:i+8]; c=d[i+8:i+8+n]
        if t==b'IHDR': w,h,bd,ct=struct.unpack('>IIBB',c[:10])
        if t==b'IDAT': idat+=c
        i+=12+n
    raw=zlib.decompress(idat); bpp={2:3,6:4}[ct]*(bd//8); stride=w*bpp
    out=bytearray(); prev=bytearray(stride)
    for y in range(h):
        f=raw[y*(stride+1)]; line=bytearray(raw[y*(stride+1)+1:(y+1)*(stride+1)])
        for x in range(stride):
            a=line[x-bpp] if x>=bpp else 0; b=prev[x]; c=prev[x-bpp] if x>=bpp else 0
            if f==1: line[x]=(line[x]+a)&255
            elif f==2: line[x]=(line[x]+b)&255
            elif f==3: line[x]=(line[x]+((a+b)>>1))&255
            elif f==4:
                p=a+b-c; pa=abs(p-a); pb=abs(p-b); pc=abs(p-c)
                pr=a if pa<=pb and pa<=pc else (b if pb<=pc else c)
                line[x]=(line[x]+pr)&255
        out+=line; prev=line
    return w,h,bpp,out
w,h,bpp,a=load(sys.argv[1]); _,_,_,b=load(sys.argv[2])
diffs=[abs(a[i]-b[i]) for i in range(len(a)) if i%bpp<3]
print(f"{w}x{h} mean_abs_diff={sum(diffs)/len(diffs):.4f} max={max(diffs)} share_over_4={sum(1 for d in diffs if d>4)/len(diffs):.5f}")
